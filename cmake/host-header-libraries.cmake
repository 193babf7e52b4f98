# CLI11 and nlohmann-json for a cross build, from the build machine's Debian packages:
# both are headers only, so the same files serve any target. Each header folder is
# linked into an include folder of its own under the build tree and used from there
# through an imported target of the name the library's own CMake files give it.
function(pelliton_host_header_library target folder)
  set(include_dir ${CMAKE_BINARY_DIR}/host-headers/${folder})
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: scripts/setup installs it")
  endif()
  file(MAKE_DIRECTORY ${include_dir})
  file(CREATE_LINK /usr/include/${folder} ${include_dir}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
endfunction()

pelliton_host_header_library(CLI11::CLI11 CLI)
pelliton_host_header_library(nlohmann_json::nlohmann_json nlohmann)
