# Builds tests/application, the stand-in application build (or another
# project), in a fresh tree and runs its ctest for each configuration, whose
# output must match what is expected of it:
#   cmake -DSOURCE=<tests/application> -DBINARY=<tree> -DGENERATOR=<generator>
#         [-DMAKE_PROGRAM=<path>] -DOPTIONS=<-D...|-D...> -DCONFIGS=<Debug|Release>
#         -DEXPECT_<config>=<regular expression> -P build-application.cmake
# With -DTESTS=<regular expression>, ctest runs only the tests it matches.
# With -DRUN=<program>, that program of the tree is run instead of ctest,
# "<config>" in its path standing for the configuration.
# With -DREPOSITORY=<folder> -DPROJECT=<manifest_check's source>, the project's
# files are first committed to a git repository in that folder, tagged
# v-test, for the application to fetch with FetchContent (no network).
# With -DROUNDS=<key|key...> -DEDITED=<file|file...>, the tree is built once
# per key, after the files of FILE_<key> (a list as long as EDITED) are copied
# to EDITED (the manifests' sources, as a developer edits them);
# EXPECT_<config>_<key> then holds for that round. BUILD_FAILS_<key>, if
# given, is what each build must print as it fails in that round.
# With -DBUILD_TARGETS=<target|target...>, each build is of these targets, one
# after the other, instead of the default one.
# With -DCONFIGURE_FAILS=<regular expression>, configure must fail, printing
# it, and nothing is built.
# With -DSHIPPED=<folder of the tree> -DSHIPPED_FILES=<name|name...>, that
# folder ("<config>" standing for the configuration) may hold no other file.
# With -DNO_WARNINGS=ON, neither configure nor a build may print a warning.
# With -DEXPECT_CONFIGURE=<regular expression>, configure's output matches it;
# with -DREFUSE_CONFIGURE=<regular expression>, it does not.
# With -DUNCACHED=<variable|variable...>, the tree's cache holds no value for
# any of them.
# With -DEXPECT_COMMANDS=<regex|regex...> and -DREFUSE_COMMANDS=<regex|...>,
# the commands that build the checker (Ninja only) match each of the first
# and none of the second; with -DEXPECT_STEP=<regex|regex...>, those of the
# build step velkor_manifest_check match each.
# With -DAFTER=<command|argument...>, the command runs after the last round
# and must succeed; "<tree>" in it stands for the tree.
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
foreach(list IN ITEMS OPTIONS CONFIGS ROUNDS SHIPPED_FILES AFTER UNCACHED EXPECT_COMMANDS REFUSE_COMMANDS
                     EXPECT_STEP BUILD_TARGETS EDITED)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
set(generator_options -G "${GENERATOR}")
if(MAKE_PROGRAM)
  list(APPEND generator_options "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
# A new tree each time: an output left by an earlier run (a manifest, say)
# would hide one that this build fails to make.
file(REMOVE_RECURSE "${BINARY}")
# Copies the files of round KEY to EDITED.
function(edit key)
  string(REPLACE "|" ";" files "${FILE_${key}}")
  foreach(edited file IN ZIP_LISTS EDITED files)
    get_filename_component(folder "${edited}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(COPY_FILE "${file}" "${edited}")
  endforeach()
endfunction()
if(ROUNDS)
  list(GET ROUNDS 0 first)
  edit(${first})
else()
  set(ROUNDS once)
endif()
run("${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BINARY}" ${generator_options} ${OPTIONS})
if(DEFINED CONFIGURE_FAILS)
  message("---- configure:\n${output}")
  string(REGEX REPLACE "[ \n]+" " " flowed "${output}") # CMake wraps a message
  if(result EQUAL 0 OR NOT flowed MATCHES "${CONFIGURE_FAILS}")
    message(FATAL_ERROR "Configuring did not fail with: ${CONFIGURE_FAILS}")
  endif()
  return()
elseif(NOT result EQUAL 0)
  message(FATAL_ERROR "Configuring the application failed:\n${output}")
endif()
message("---- configure:\n${output}")
# A warning's text as one line, as CMake wraps it.
string(REGEX REPLACE "\n  ([^ \n])" " \\1" flowed "${output}")
if(DEFINED EXPECT_CONFIGURE AND NOT output MATCHES "${EXPECT_CONFIGURE}" AND NOT flowed MATCHES "${EXPECT_CONFIGURE}")
  message(FATAL_ERROR "Configuring did not give what was expected: ${EXPECT_CONFIGURE}")
elseif(DEFINED REFUSE_CONFIGURE AND output MATCHES "${REFUSE_CONFIGURE}")
  message(FATAL_ERROR "Configuring printed ${CMAKE_MATCH_0}")
elseif(NO_WARNINGS AND output MATCHES "[Ww]arning")
  message(FATAL_ERROR "Configuring the application printed a warning")
endif()
foreach(variable IN LISTS UNCACHED)
  file(STRINGS "${BINARY}/CMakeCache.txt" cached REGEX "^${variable}(:[A-Z]+)?=.")
  if(cached)
    message(FATAL_ERROR "The application's cache holds ${cached}")
  endif()
endforeach()
# The commands that build TARGET (Ninja only), WHAT, must match each regular
# expression of the list named EXPECTED and none of the list named REFUSED.
function(match_commands target what expected refused)
  run("${MAKE_PROGRAM}" -C "${BINARY}" -t commands ${target})
  message("---- ${what}:\n${output}")
  foreach(regex IN LISTS ${expected})
    if(NOT output MATCHES "${regex}")
      message(FATAL_ERROR "${what} do not match ${regex}")
    endif()
  endforeach()
  foreach(regex IN LISTS ${refused})
    if(output MATCHES "${regex}")
      message(FATAL_ERROR "${what} match ${regex}: \"${CMAKE_MATCH_0}\"")
    endif()
  endforeach()
endfunction()
if(EXPECT_COMMANDS OR REFUSE_COMMANDS)
  match_commands(manifest_check "The checker's commands" EXPECT_COMMANDS REFUSE_COMMANDS)
endif()
if(EXPECT_STEP)
  match_commands(velkor_manifest_check "The build step's commands" EXPECT_STEP "")
endif()
foreach(round IN LISTS ROUNDS)
  if(DEFINED FILE_${round})
    edit(${round})
    message("==== round ${round}: ${EDITED} are now ${FILE_${round}}")
  endif()
  foreach(config IN LISTS CONFIGS)
    set(targets "${BUILD_TARGETS}")
    if(NOT targets)
      set(targets "<default>")
    endif()
    foreach(target IN LISTS targets)
      set(build "${CMAKE_COMMAND}" --build "${BINARY}" --config ${config})
      if(NOT target STREQUAL "<default>")
        list(APPEND build --target "${target}")
      endif()
      run(${build})
      message("---- ${build}:\n${output}")
      if(DEFINED BUILD_FAILS_${round})
        if(result EQUAL 0 OR NOT output MATCHES "${BUILD_FAILS_${round}}")
          message(FATAL_ERROR "${build} did not fail with: ${BUILD_FAILS_${round}}")
        endif()
      elseif(NOT result EQUAL 0)
        message(FATAL_ERROR "${build} failed")
      elseif(NO_WARNINGS AND output MATCHES "[Ww]arning")
        message(FATAL_ERROR "${build} printed a warning")
      endif()
    endforeach()
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
    set(expected "${EXPECT_${config}}")
    if(DEFINED EXPECT_${config}_${round})
      set(expected "${EXPECT_${config}_${round}}")
    endif()
    if(NOT output MATCHES "${expected}")
      message(FATAL_ERROR "${command} did not give what was expected: ${expected}")
    endif()
    if(SHIPPED)
      string(REPLACE "<config>" "${config}" folder "${BINARY}/${SHIPPED}")
      file(GLOB_RECURSE shipped LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
      list(REMOVE_ITEM shipped ${SHIPPED_FILES})
      if(shipped)
        message(FATAL_ERROR "${folder} holds what the application did not put there: ${shipped}")
      endif()
    endif()
  endforeach()
endforeach()
if(AFTER)
  string(REPLACE "<tree>" "${BINARY}" AFTER "${AFTER}")
  run(${AFTER})
  message("---- ${AFTER}:\n${output}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${AFTER} failed")
  endif()
endif()
