# Fails unless EXECUTABLE exports each of the Orvo reader's nineteen C API names as a
# defined function. Other dynamic symbols (vague-linkage ones the C++ runtime pulls in)
# may appear besides them.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${NM} -D --defined-only ${EXECUTABLE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${EXECUTABLE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(functions)
foreach(line IN LISTS lines)
  # "ADDRESS TYPE NAME"; code symbols are T (or t, W for weak ones).
  if(line MATCHES "^[0-9a-fA-F]+ [TW] ([^ ]+)$")
    list(APPEND functions ${CMAKE_MATCH_1})
  endif()
endforeach()
set(expected Dll7816CardAPDU Dll7816CardPowerdown DllCloseReader DllDownloadFirmware
    DllDownloadFirmwareComplete DllDownloadFirmwareFirst DllDownloadFirmwareStart
    DllEraseOfflineData DllGet7816CardState DllGetFirmwareVersion DllGetOfflineFileName
    DllLedControl DllOpenReader DllReset7816Card DllSetOfflineFileName DllSpeakerControl
    DllWriteOfflineData SKRevData SKSendData)
set(missing)
foreach(name IN LISTS expected)
  if(NOT name IN_LIST functions)
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not exported by ${EXECUTABLE}: ${missing}")
endif()
list(LENGTH expected count)
message(STATUS "${EXECUTABLE} exports all ${count} reader functions")
