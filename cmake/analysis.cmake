find_program(CPPCHECK NAMES cppcheck REQUIRED)

set(checker_source "${PROJECT_SOURCE_DIR}/manifest_check/manifest_check.cpp")

# cppcheck for the platform built for: a Windows build is checked as win64.
set(cppcheck_platform unix64)
if(WIN32)
  set(cppcheck_platform win64)
endif()
add_test(
    NAME cppcheck
    COMMAND "${CPPCHECK}" --enable=warning,style,performance,portability --std=c++17
            --platform=${cppcheck_platform} --error-exitcode=1 --inline-suppr --quiet
            --library=std "-I$<TARGET_PROPERTY:manifest_check,BINARY_DIR>/manifest_check-path/$<CONFIG>"
            "${checker_source}"
)

set_tests_properties(cppcheck PROPERTIES LABELS analysis)

# clang-tidy needs a native compile database; the format is the same for all.
if(CMAKE_CROSSCOMPILING)
  return()
endif()

find_program(CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
find_program(CLANG_FORMAT NAMES clang-format clang-format-14 REQUIRED)

if(NOT CMAKE_EXPORT_COMPILE_COMMANDS)
  message(FATAL_ERROR "The clang_tidy test needs -DCMAKE_EXPORT_COMPILE_COMMANDS=ON")
endif()
add_test(NAME clang_tidy COMMAND "${CLANG_TIDY}" -p "${PROJECT_BINARY_DIR}" --quiet "${checker_source}")

# The formatter keeps every check on its line; a source it would change fails.
file(GLOB_RECURSE cxx_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/manifest_check/*.cpp"
     "${PROJECT_SOURCE_DIR}/tests/*.cpp" "${PROJECT_SOURCE_DIR}/bench/*.cpp"
     "${PROJECT_SOURCE_DIR}/fuzz/*.cpp")
add_test(NAME clang_format COMMAND "${CLANG_FORMAT}" --dry-run -Werror ${cxx_sources})
set_tests_properties(clang_tidy clang_format PROPERTIES LABELS analysis)
