# Processor names, and which ones a Windows host runs.

# The processor names of a Windows host, a toolchain file and MSVC, alike.
function(manifest_check_processor name out)
  string(TOLOWER "${name}" name)
  string(REGEX REPLACE "^(amd64|x64|em64t)$" "x86_64" name "${name}")
  string(REGEX REPLACE "^(arm64|arm64ec)$" "aarch64" name "${name}")
  string(REGEX REPLACE "^i[3-6]86$" "x86" name "${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# Whether a Windows host of processor HOST runs a program built for TARGET:
# an x64 host runs x64 and x86 programs, an ARM64 host ARM64, x64 and x86
# ones (its emulation), any host its own. An unknown target is the host's.
function(manifest_check_windows_runs host target out)
  manifest_check_processor("${host}" host)
  manifest_check_processor("${target}" target)
  set(runs OFF)
  if(target STREQUAL "" OR target STREQUAL host
     OR (host STREQUAL "x86_64" AND target STREQUAL "x86")
     OR (host STREQUAL "aarch64" AND target MATCHES "^(x86_64|x86)$"))
    set(runs ON)
  endif()
  set(${out} ${runs} PARENT_SCOPE)
endfunction()
