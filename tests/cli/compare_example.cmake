# Regenerates the example script and compares it byte for byte with the shipped one.
execute_process(COMMAND ${PYTHON} ${GENERATOR} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "generator failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SHIPPED} ${OUT} RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "examples/tessiv_example.bin differs from what its generator writes")
endif()
