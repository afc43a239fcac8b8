# ---- Tests ----

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
