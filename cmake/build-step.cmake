# The build step of manifest_check_add(): places the application's manifest
# where the checker reads it, and runs the check.
#   cmake -DPATH_FILE=<file> [-DMANIFEST=<file>] [-DCHECKER=<file> [-DEMULATOR=<command>]
#         | -DWHY=<text>] -DVERDICT=<file> -P build-step.cmake
# PATH_FILE holds the path that the checker of the configuration being built
# reads, as CMake wrote it for that checker's header: the copy goes where that
# very checker looks.
# MANIFEST, if given, is copied there when it differs from what lies there.
# CHECKER is then run (through EMULATOR, a cross build's, if given); its
# report is passed on as it comes, and a failure adds one line in the
# canonical form of MSBuild's and Visual Studio's diagnostics, so that an IDE
# lists it as an error of the manifest (MANIFEST, else the path read):
#   <origin> : error MANIFEST<line>: <the report without "FAIL: ">
# ("MANIFEST" alone for a report without a line; WHY for a checker that this
# machine cannot run). VERDICT is written, saying "passed", for a pass alone:
# the step's next command fails on its absence.
file(READ "${PATH_FILE}" path)
if(DEFINED MANIFEST)
  get_filename_component(folder "${path}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${MANIFEST}" "${path}" ONLY_IF_DIFFERENT)
  set(origin "${MANIFEST}")
else()
  set(origin "${path}")
endif()
if(NOT DEFINED VERDICT)
  return() # the copy alone: the CTest test checks
endif()
file(REMOVE "${VERDICT}")
if(DEFINED WHY)
  message("${origin} : error MANIFEST: ${WHY}")
  return()
endif()
# The report's bytes are UTF-8, a path's too: passed on as they are.
execute_process(
    COMMAND ${EMULATOR} "${CHECKER}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE report
    ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE ENCODING UTF-8
)
if(status STREQUAL "0")
  file(WRITE "${VERDICT}" "passed")
  return()
endif()
# The first line of the report (execute_process drops the CR of a Windows
# checker's CR LF).
set(code MANIFEST)
if(report MATCHES "^FAIL: ([^\n]*)")
  set(text "${CMAKE_MATCH_1}")
  if(text MATCHES " at line ([0-9]+)$")
    set(code "MANIFEST${CMAKE_MATCH_1}")
  endif()
else()
  set(text "the checker ${CHECKER} ended with ${status} and no report")
endif()
message("${origin} : error ${code}: ${text}")
