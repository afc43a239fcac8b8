# Builds tests/application, the stand-in application build (or another
# project), in a fresh tree and runs its ctest for each configuration, whose
# output must match what is expected of it:
#   cmake -DSOURCE=<tests/application> -DBINARY=<tree> -DGENERATOR=<generator>
#         [-DMAKE_PROGRAM=<path>] -DOPTIONS=<-D...|-D...> -DCONFIGS=<Debug|Release>
#         -DEXPECT_<config>=<regular expression> -P application.cmake
# With -DTESTS=<regular expression>, ctest runs only the tests it matches.
# With -DRUN=<program>, that program of the tree is run instead of ctest,
# "<config>" in its path standing for the configuration.
# With -DREPOSITORY=<folder> -DPROJECT=<manifest_check's source>, the project's
# files are first committed to a git repository in that folder, tagged
# v-test, for the application to fetch with FetchContent (no network).
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(result "${result}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

if(REPOSITORY)
  file(REMOVE_RECURSE "${REPOSITORY}")
  file(MAKE_DIRECTORY "${REPOSITORY}")
  file(COPY "${PROJECT}/CMakeLists.txt" "${PROJECT}/cmake" "${PROJECT}/manifest_check"
       DESTINATION "${REPOSITORY}")
  foreach(step IN ITEMS "init;-q" "add;-A" "commit;-q;-m;snapshot" "tag;v-test")
    run(git -C "${REPOSITORY}" -c user.name=test -c user.email=test@localhost ${step})
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "git ${step} in ${REPOSITORY} failed:\n${output}")
    endif()
  endforeach()
endif()

# Lists come joined by |, as a test's command would split them at ;.
string(REPLACE "|" ";" OPTIONS "${OPTIONS}")
string(REPLACE "|" ";" CONFIGS "${CONFIGS}")
set(generator_options -G "${GENERATOR}")
if(MAKE_PROGRAM)
  list(APPEND generator_options "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
# A new tree each time: an output left by an earlier run (a manifest, say)
# would hide one that this build fails to make.
file(REMOVE_RECURSE "${BINARY}")
run("${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BINARY}" ${generator_options} ${OPTIONS})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Configuring the application failed:\n${output}")
endif()
foreach(config IN LISTS CONFIGS)
  run("${CMAKE_COMMAND}" --build "${BINARY}" --config ${config})
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Building the application's ${config} configuration failed:\n${output}")
  endif()
  if(RUN)
    string(REPLACE "<config>" "${config}" command "${BINARY}/${RUN}")
  else()
    set(command "${CMAKE_CTEST_COMMAND}" --test-dir "${BINARY}" -C ${config} --verbose)
    if(TESTS)
      list(APPEND command -R "${TESTS}")
    endif()
  endif()
  run(${command})
  message("---- ${command}:\n${output}")
  if(NOT output MATCHES "${EXPECT_${config}}")
    message(FATAL_ERROR "${command} did not give what was expected: ${EXPECT_${config}}")
  endif()
endforeach()
