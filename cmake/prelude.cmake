# ---- In-source guard ----

# Only for a standalone build: an application's build is its own to lay out.
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_BINARY_DIR AND CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR)
  message(
      FATAL_ERROR
      "In-source builds are not supported. "
      "Make a build directory, e.g. with: cmake --preset default"
  )
endif()
