# Checks that a Windows executable imports only Windows system DLLs, so that
# it runs without any compiler runtime DLL beside it.
#   cmake -DOBJDUMP=... -DEXE=... -P windows-imports.cmake
execute_process(
    COMMAND "${OBJDUMP}" -p "${EXE}"
    OUTPUT_VARIABLE headers
    RESULT_VARIABLE result
)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed: ${result}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
  message(FATAL_ERROR "No imports found in ${EXE}")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(dll MATCHES "^(kernel32|msvcrt|ucrtbase)\\.dll$" OR dll MATCHES "^api-ms-win-crt-[a-z0-9-]+\\.dll$")
    message(STATUS "system DLL: ${dll}")
  else()
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not a Windows system DLL")
  endif()
endforeach()
