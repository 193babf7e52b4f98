# pelliton_add_rig_test(NAME <name> COMMAND <target> [ARGS...])
# Registers a test that runs <target> inside the pcscd rig (tests/rig/pcsc-rig): its
# own pcscd with vpcd readers on a free port pair, in a private mount namespace. Label
# "pcsc"; every test has its own daemon and ports, so they run in parallel safely.
# Link the target with pelliton_rig to start card simulators from the test.
set(PELLITON_RIG_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/pcsc-rig)
# The programs under test record their card runs here, never in the user's own journal.
set(PELLITON_TEST_DATA_HOME "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data")

function(pelliton_add_rig_test)
  cmake_parse_arguments(PARSE_ARGV 0 _rig "" "NAME" "COMMAND")
  list(POP_FRONT _rig_COMMAND _target)
  add_test(NAME ${_rig_NAME} COMMAND ${PELLITON_RIG_SCRIPT} $<TARGET_FILE:${_target}>
                                     ${_rig_COMMAND})
  set_tests_properties(${_rig_NAME} PROPERTIES
    LABELS pcsc
    SKIP_RETURN_CODE 77
    TIMEOUT 300
    ENVIRONMENT "PELLITON_TESSIV_SIM=$<TARGET_FILE:tessiv-sim>;${PELLITON_TEST_DATA_HOME}")
endfunction()
