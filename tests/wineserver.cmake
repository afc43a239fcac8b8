# Starts or stops the persistent wineserver of the test prefix ($ENV{WINEPREFIX}):
#   cmake -DACTION=start|stop -DWINE=.../wine64 -DWINESERVER=.../wineserver64 -P wineserver.cmake
# Starting also makes the prefix, so that no case pays for it.
# The server and the prefix's own services live on in the background, so their
# output goes to a file: a pipe that they held open would never end.
set(log "$ENV{WINEPREFIX}.log")
if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
  execute_process(COMMAND "${WINESERVER}" -p OUTPUT_FILE "${log}" ERROR_FILE "${log}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
      COMMAND "${WINE}" wineboot --init
      RESULT_VARIABLE result OUTPUT_FILE "${log}" ERROR_FILE "${log}"
  )
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "wineboot --init failed in $ENV{WINEPREFIX}: ${result}")
  endif()
else()
  execute_process(COMMAND "${WINESERVER}" -k)
endif()
