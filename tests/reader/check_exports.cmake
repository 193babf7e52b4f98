# Checks the Orvo reader's nineteen C API names among the dynamic symbols of a binary.
#   -DLIBRARY=path     the shared library: it exports exactly the nineteen names
#   -DEXECUTABLE=path  the tool: it exports each of them as a defined function; other
#                      symbols (vague-linkage ones the C++ runtime pulls in) may appear
#   -DNM=path          read an ELF binary's dynamic symbols with nm, or
#   -DOBJDUMP=path     read a Windows DLL's export table with objdump -p
cmake_minimum_required(VERSION 3.25)
if(DEFINED LIBRARY)
  set(binary ${LIBRARY})
else()
  set(binary ${EXECUTABLE})
endif()
set(names)
set(functions)
if(DEFINED OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${binary}
                  OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${binary}")
  endif()
  # The name pointer table lists each exported name as it is looked up: "\t[   0] Name".
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([^\n]+\n)*)" table "${dump}")
  string(REGEX MATCHALL "[^\n]+" lines "${CMAKE_MATCH_1}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND names ${CMAKE_MATCH_1})
      list(APPEND functions ${CMAKE_MATCH_1})
    endif()
  endforeach()
else()
  execute_process(COMMAND ${NM} -D --defined-only ${binary}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${binary}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names ${name})
    # "ADDRESS TYPE NAME"; code symbols are T (or W for weak ones).
    if(line MATCHES "^[0-9a-fA-F]+ [TW] ([^ ]+)$")
      list(APPEND functions ${CMAKE_MATCH_1})
    endif()
  endforeach()
endif()
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
