# ---- manifest_check_add() ----

# manifest_check_add(<target> [MANIFEST <file>] [TEST_ONLY]), called by an
# application's build after it adds this project: the whole wiring of the
# check in one call.
# - The checker reads $<TARGET_FILE_DIR:<target>>/app.vrmanifest, each
#   configuration's own.
# - MANIFEST names the manifest that the application's sources hold or its
#   build generates (relative to the calling folder's source folder; a file
#   that a custom command of that folder outputs is waited for). It is copied
#   beside <target> on every build in which it changed, and the check runs
#   as part of building <target>, so that building <target> alone fails on a
#   bad manifest too. Without MANIFEST the application emits the manifest
#   itself, and orders that before the check:
#   add_dependencies(<target>_manifest_check <the emitting target>).
# - The check runs in the target <target>_manifest_check, in every build of
#   all; TEST_ONLY leaves the check to the CTest test alone.
# The build step passes the checker's report on unchanged and adds one line in
# the form that MSBuild and Visual Studio list as an error, with the manifest
# as its origin (cmake/build-step.cmake).
#
# A function runs under the policies of the file that defines it, this
# project's, whatever the calling folder asks for (Visual Studio's template:
# cmake_minimum_required(VERSION 3.8)).
function(manifest_check_add target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "TEST_ONLY" "MANIFEST" "")
  set(call "manifest_check_add(${target})")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${call}: unknown arguments, or MANIFEST without a file. It takes "
                        "manifest_check_add(<target> [MANIFEST <file>] [TEST_ONLY]).")
  endif()
  get_property(guest GLOBAL PROPERTY manifest_check_guest)
  get_property(named_by GLOBAL PROPERTY manifest_check_named_by)
  get_property(path_set GLOBAL PROPERTY manifest_check_path_set)
  if(NOT guest)
    message(FATAL_ERROR "${call}: manifest_check_add() is for an application's build that adds "
                        "manifest_check; a standalone build reads MANIFEST_PATH.")
  elseif(named_by STREQUAL "MANIFEST_PATH")
    message(
        FATAL_ERROR
        "${call}: MANIFEST_PATH was set before manifest_check was added, and names the manifest "
        "already (\"${path_set}\"; a cache entry counts: remove it with -U MANIFEST_PATH). Set "
        "one or the other: without MANIFEST_PATH the call names "
        "$<TARGET_FILE_DIR:${target}>/app.vrmanifest."
    )
  elseif(NOT named_by STREQUAL "default")
    message(FATAL_ERROR "${call}: the checker reads one manifest, and ${named_by} names it "
                        "already. Call manifest_check_add() once.")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "${call}: there is no target ${target}. Call it after add_executable(${target} ...).")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "EXECUTABLE")
    message(FATAL_ERROR "${call}: ${target} is a ${type}, not the application's executable.")
  endif()

  set(path "$<TARGET_FILE_DIR:${target}>/app.vrmanifest")
  set_property(TARGET manifest_check PROPERTY MANIFEST_PATH "${path}")
  set_property(GLOBAL PROPERTY manifest_check_named_by "${call} in ${CMAKE_CURRENT_SOURCE_DIR}")
  set_property(GLOBAL PROPERTY manifest_check_test_only ${arg_TEST_ONLY})

  set(check ${target}_manifest_check)
  get_target_property(checker_folder manifest_check BINARY_DIR)
  set(step "${CMAKE_COMMAND}" "-DPATH_FILE=${checker_folder}/manifest_check-path/$<CONFIG>/manifest_path.txt")
  # The checker's file of the configuration being built: under Ninja
  # Multi-Config's cross configurations the target-level dependency alone
  # would build the checker of the build file's own configuration.
  set(depends DEPENDS "$<TARGET_FILE:manifest_check>")
  if(DEFINED arg_MANIFEST)
    # Relative to the calling folder's source folder, once generator
    # expressions have made it a path.
    set(manifest "${arg_MANIFEST}")
    if(manifest MATCHES "\\$<")
      set(manifest "$<PATH:ABSOLUTE_PATH,NORMALIZE,${manifest},${CMAKE_CURRENT_SOURCE_DIR}>")
    else()
      cmake_path(ABSOLUTE_PATH manifest BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    endif()
    list(APPEND step "-DMANIFEST=${manifest}")
    list(APPEND depends "${manifest}")
  endif()
  set(commands "")
  if(NOT arg_TEST_ONLY)
    # The step ends its work with a verdict file, which it writes only for a
    # pass: comparing it with one that says "passed" fails the step without a
    # word more than the report and the error line.
    get_property(why GLOBAL PROPERTY manifest_check_cannot_run)
    set(run "-DCHECKER=$<TARGET_FILE:manifest_check>"
            "-DEMULATOR=$<$<BOOL:${CMAKE_CROSSCOMPILING}>:$<TARGET_PROPERTY:manifest_check,CROSSCOMPILING_EMULATOR>>")
    if(why)
      set(run "-DWHY=${why}. Give manifest_check_add() TEST_ONLY to check at test time only, on a machine that runs it.")
    endif()
    set(verdict "${CMAKE_CURRENT_BINARY_DIR}/${check}/$<CONFIG>/verdict")
    set(passed "${CMAKE_CURRENT_BINARY_DIR}/${check}/passed")
    file(WRITE "${passed}" "passed")
    set(commands COMMAND ${step} ${run} "-DVERDICT=${verdict}" -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/build-step.cmake"
                 COMMAND "${CMAKE_COMMAND}" -E compare_files "${verdict}" "${passed}")
  elseif(DEFINED arg_MANIFEST)
    set(commands COMMAND ${step} -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/build-step.cmake")
  endif()
  set(doing "Checking")
  if(arg_TEST_ONLY)
    set(doing "Placing")
  endif()
  add_custom_target(${check} ALL ${commands} ${depends} COMMENT "${doing} the app.vrmanifest of ${target}" VERBATIM)
  add_dependencies(${check} manifest_check)
  if(DEFINED arg_MANIFEST)
    add_dependencies(${target} ${check})
  else()
    add_dependencies(${check} ${target})
  endif()
endfunction()

# ---- As configure ends ----

# Registers the CTest test in the top-level folder, whose test file ctest reads
# from the build's top, wherever the application added this project: so the
# test is there whenever the top-level folder enables testing, before or after
# the call, and not with BUILD_TESTING off. A FIFO put at the path after the
# checker saw a file there would block its open, so the test has a timeout (a
# build step has none). Then says what each checker reads, and warns of what
# would lose the check.
function(manifest_check_finish)
  get_property(guest GLOBAL PROPERTY manifest_check_guest)
  get_property(named_by GLOBAL PROPERTY manifest_check_named_by)
  get_property(test_only GLOBAL PROPERTY manifest_check_test_only)
  get_property(why GLOBAL PROPERTY manifest_check_cannot_run)
  get_property(checkers GLOBAL PROPERTY manifest_check_checkers)
  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)

  foreach(checker IN LISTS checkers)
    get_target_property(path ${checker} MANIFEST_PATH)
    get_target_property(folder ${checker} BINARY_DIR)
    get_target_property(name ${checker} OUTPUT_NAME)
    if(NOT name)
      set(name ${checker})
    endif()
    # The configuration's folder: none for a build without a build type.
    set(config "")
    if(multi_config)
      set(config "<config>/")
    elseif(CMAKE_BUILD_TYPE)
      set(config "${CMAKE_BUILD_TYPE}/")
    endif()
    set(evaluated "")
    if(path MATCHES "\\$<")
      set(evaluated ", evaluated for each configuration in ${folder}/${checker}-path/${config}manifest_path.txt")
    endif()
    message(STATUS "manifest_check: ${folder}/${config}${name}${CMAKE_EXECUTABLE_SUFFIX} reads ${path}${evaluated}")
  endforeach()
  if(NOT guest)
    return()
  endif()

  if(named_by STREQUAL "default")
    get_target_property(path manifest_check MANIFEST_PATH)
    message(
        WARNING
        "manifest_check: this build names no manifest, so the checker reads ${path}. Name "
        "the application's with manifest_check_add(<target> MANIFEST <file>) after adding "
        "manifest_check (or set MANIFEST_PATH before adding it)."
    )
  endif()
  if(why)
    if(named_by MATCHES "^manifest_check_add" AND NOT test_only)
      set(what "its CTest test and the build step of manifest_check_add() fail. Give the call "
               "TEST_ONLY to check at test time only, on a machine that runs it")
    else()
      set(what "its CTest test fails, and so does any build step that runs it")
    endif()
    string(JOIN "" what ${what})
    message(WARNING "${why}, so ${what}.")
  endif()

  if(DEFINED BUILD_TESTING AND NOT BUILD_TESTING)
    return()
  elseif(NOT CMAKE_TESTING_ENABLED)
    message(
        WARNING
        "manifest_check: testing is not enabled in this build's top-level folder, so ctest "
        "will not run the manifest_check test. Call enable_testing() or include(CTest) in "
        "${CMAKE_SOURCE_DIR}/CMakeLists.txt."
    )
    return()
  endif()
  if(why AND NOT CMAKE_CROSSCOMPILING)
    add_test(NAME manifest_check COMMAND "${CMAKE_COMMAND}" "-DWHY=${why}."
                                         -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/unrunnable-checker.cmake")
  else()
    add_test(NAME manifest_check COMMAND manifest_check)
  endif()
  set_tests_properties(manifest_check PROPERTIES TIMEOUT 60)
endfunction()

if(PROJECT_IS_TOP_LEVEL)
  set_property(GLOBAL PROPERTY manifest_check_guest OFF)
else()
  set_property(GLOBAL PROPERTY manifest_check_guest ON)
endif()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL manifest_check_finish)
