# Checks the Orvo reader's nineteen C API names among the dynamic symbols of a binary.
#   -DLIBRARY=path     the shared library: it exports exactly the nineteen names
#   -DEXECUTABLE=path  the tool: it exports each of them as a defined function; other
#                      symbols (vague-linkage ones the C++ runtime pulls in) may appear
cmake_minimum_required(VERSION 3.25)
if(DEFINED LIBRARY)
  set(binary ${LIBRARY})
else()
  set(binary ${EXECUTABLE})
endif()
execute_process(COMMAND ${NM} -D --defined-only ${binary}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${binary}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names)
set(functions)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
  # "ADDRESS TYPE NAME"; code symbols are T (or W for weak ones).
  if(line MATCHES "^[0-9a-fA-F]+ [TW] ([^ ]+)$")
    list(APPEND functions ${CMAKE_MATCH_1})
  endif()
endforeach()
set(expected Dll7816CardAPDU Dll7816CardPowerdown DllCloseReader DllDownloadFirmware
    DllDownloadFirmwareComplete DllDownloadFirmwareFirst DllDownloadFirmwareStart
    DllEraseOfflineData DllGet7816CardState DllGetFirmwareVersion DllGetOfflineFileName
    DllLedControl DllOpenReader DllReset7816Card DllSetOfflineFileName DllSpeakerControl
    DllWriteOfflineData SKRevData SKSendData)
list(SORT expected)

if(DEFINED LIBRARY)
  list(SORT names)
  if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
  endif()
else()
  set(missing)
  foreach(name IN LISTS expected)
    if(NOT name IN_LIST functions)
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR "not exported by ${binary}: ${missing}")
  endif()
endif()
