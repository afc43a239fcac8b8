# ---- In-source guard ----

# Only for a standalone build: an application's build is its own to lay out.
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_BINARY_DIR AND CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR)
  message(
      FATAL_ERROR
      "In-source builds are not supported. "
      "Make a build directory, e.g. with: cmake --preset default"
  )
endif()

# ---- Build type ----

# Standalone with a single-configuration generator and no build type given,
# the checker is a Release build: optimised, and where the default
# MANIFEST_PATH (bin/Release) and the checker's own folder (Release/) say.
get_property(manifest_check_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_CURRENT_SOURCE_DIR AND NOT manifest_check_multi_config
   AND NOT DEFINED CMAKE_BUILD_TYPE AND NOT DEFINED ENV{CMAKE_BUILD_TYPE})
  set(CMAKE_BUILD_TYPE Release CACHE STRING "The build type: Release unless given")
endif()

# ---- vcpkg ----

# The vs2022 preset asks for vcpkg's toolchain file, which provides
# nlohmann/json, where VCPKG_ROOT names a vcpkg; without one, an installed
# package is looked for as in any build.
if(MANIFEST_CHECK_VCPKG AND NOT DEFINED CMAKE_TOOLCHAIN_FILE AND DEFINED ENV{VCPKG_ROOT})
  file(TO_CMAKE_PATH "$ENV{VCPKG_ROOT}/scripts/buildsystems/vcpkg.cmake" CMAKE_TOOLCHAIN_FILE)
endif()
