# Fails when the program imports a DLL that is not one of the system's known DLLs: the
# loader looks for any other one beside the executable first, and the program runs elevated.
# cmake -DOBJDUMP=... -DPROGRAM=... -P KnownDllImports.cmake
cmake_minimum_required(VERSION 3.25)
set(known advapi32 clbcatq combase comdlg32 coml2 gdi32 gdiplus imagehlp imm32 kernel32
          msctf msvcrt normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore
          shell32 shlwapi user32 wldap32 ws2_32)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
if(NOT names)
  message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
foreach(entry IN LISTS names)
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL]" "\\1" name "${entry}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST known)
    message(FATAL_ERROR "${PROGRAM} imports ${entry}, which is not a known DLL")
  endif()
  message(STATUS "${entry}")
endforeach()
