# nlohmann/json is header-only and comes installed: Debian 12 packages it as
# nlohmann-json3-dev. It is never downloaded or vendored.
#
# An application that has its own copy provides it as the target
# nlohmann_json::nlohmann_json (what find_package and the library's own
# CMakeLists.txt define) or nlohmann_json, and that copy is used. Whichever
# copy it is, the checker's source refuses to compile with a version before
# 3.11.2 or after 3.x.

if(TARGET nlohmann_json::nlohmann_json)
  return()
elseif(TARGET nlohmann_json)
  add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
  return()
endif()

# Being header-only, the host's package serves a cross build too: it is
# looked for outside the target's root there.
set(host_package "")
if(CMAKE_CROSSCOMPILING)
  set(host_package NO_CMAKE_FIND_ROOT_PATH)
endif()
find_package(nlohmann_json 3.11.2 QUIET ${host_package})
if(NOT nlohmann_json_FOUND)
  message(
      FATAL_ERROR
      "manifest_check needs nlohmann/json 3.11.2 or a later 3.x.\n"
      "On Debian or Ubuntu install the package nlohmann-json3-dev:\n"
      "    apt-get install nlohmann-json3-dev\n"
      "Elsewhere install nlohmann/json and point nlohmann_json_DIR at the folder "
      "holding its nlohmann_jsonConfig.cmake."
  )
endif()

# The package's include path is the host's /usr/include, whose C library
# headers break a cross build: only the nlohmann/ folder is copied into the
# build tree and put on the include path instead.
if(CMAKE_CROSSCOMPILING)
  get_target_property(include_dirs nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
  set(host_include "")
  foreach(dir IN LISTS include_dirs)
    if(EXISTS "${dir}/nlohmann/json.hpp")
      set(host_include "${dir}")
    endif()
  endforeach()
  if(host_include STREQUAL "")
    message(FATAL_ERROR "No nlohmann/json.hpp in the include folders of the nlohmann_json package: ${include_dirs}")
  endif()
  set(staged "${CMAKE_BINARY_DIR}/nlohmann-json-headers")
  file(REMOVE_RECURSE "${staged}")
  file(COPY "${host_include}/nlohmann" DESTINATION "${staged}")
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${staged}")
  message(STATUS "Using nlohmann/json ${nlohmann_json_VERSION}, only its headers in ${host_include}/nlohmann")
endif()
