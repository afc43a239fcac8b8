# Judges cmake/processors.cmake's rule of which programs a Windows host runs,
# for the names that a host (PROCESSOR_ARCHITECTURE), a toolchain file and
# MSVC (its architecture id) give the same processors.
#   cmake -P windows-processors.cmake
include("${CMAKE_CURRENT_LIST_DIR}/../cmake/processors.cmake")
set(failures "")
foreach(row IN ITEMS
        "AMD64 x64 ON" "AMD64 X86 ON" "AMD64 ARM64 OFF" "AMD64 ARM64EC OFF" "AMD64 x86_64 ON"
        "ARM64 ARM64 ON" "ARM64 x64 ON" "ARM64 X86 ON" "ARM64 aarch64 ON" "ARM64 ARM64EC ON"
        "x86 X86 ON" "x86 x64 OFF" "AMD64 - ON")
  string(REPLACE " " ";" row "${row}")
  list(GET row 0 host)
  list(GET row 1 target)
  list(GET row 2 expected)
  if(target STREQUAL "-")
    set(target "")
  endif()
  manifest_check_windows_runs("${host}" "${target}" runs)
  if(NOT runs STREQUAL expected)
    list(APPEND failures "a ${host} host running a ${target} program: ${runs}, not ${expected}")
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n" failures)
  message(FATAL_ERROR "${failures}")
endif()
