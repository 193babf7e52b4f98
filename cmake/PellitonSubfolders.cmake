# Adds every subfolder of the calling folder that has a CMakeLists.txt, support/ first
# (it holds the test doubles the other folders link), the rest in name order.
function(pelliton_add_subfolders)
  file(GLOB _children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _children)
  if("support" IN_LIST _children)
    list(REMOVE_ITEM _children support)
    list(PREPEND _children support)
  endif()
  foreach(_child IN LISTS _children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()
