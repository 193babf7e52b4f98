# Fails unless LIBRARY exports exactly the nineteen C API names.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected Dll7816CardAPDU Dll7816CardPowerdown DllCloseReader DllDownloadFirmware
    DllDownloadFirmwareComplete DllDownloadFirmwareFirst DllDownloadFirmwareStart
    DllEraseOfflineData DllGet7816CardState DllGetFirmwareVersion DllGetOfflineFileName
    DllLedControl DllOpenReader DllReset7816Card DllSetOfflineFileName DllSpeakerControl
    DllWriteOfflineData SKRevData SKSendData)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
