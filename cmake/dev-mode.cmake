# ---- Tests ----

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()

# ---- Analysis ----

# clang-tidy (.clang-tidy), cppcheck and the format check run as tests of a
# developer build, and must find nothing; a cross build runs cppcheck alone.
option(manifest_check_ANALYSIS "Run clang-tidy, cppcheck and the format check as tests" ON)
if(BUILD_TESTING AND manifest_check_ANALYSIS)
  include(cmake/analysis.cmake)
endif()

# ---- Benchmark ----

option(manifest_check_BENCH "Build the benchmark programs of bench/" OFF)
if(manifest_check_BENCH)
  add_subdirectory(bench)
endif()

# ---- Fuzzing ----

# The persistent-mode fuzz target of fuzz/ (preset fuzz, fuzz/run.sh).
option(manifest_check_FUZZ "Build the persistent-mode fuzz target of fuzz/ (AFL++'s compiler)" OFF)
if(manifest_check_FUZZ)
  add_subdirectory(fuzz)
endif()
