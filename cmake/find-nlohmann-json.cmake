# nlohmann/json is header-only and comes installed: Debian 12 packages it as
# nlohmann-json3-dev. It is never downloaded or vendored.

set(nlohmann_json_hint "On Debian or Ubuntu install the package nlohmann-json3-dev:\n    apt-get install nlohmann-json3-dev")

if(TARGET nlohmann_json::nlohmann_json)
  # The enclosing build provides it already.
elseif(DEFINED MANIFEST_CHECK_NLOHMANN_JSON_HEADERS)
  # A cross build uses the host's headers, given as their nlohmann/ folder.
  # That folder alone is copied into the build tree and put on the include
  # path, so that no other header of the host can be picked up.
  set(headers "${MANIFEST_CHECK_NLOHMANN_JSON_HEADERS}")
  set(version_file "${headers}/detail/abi_macros.hpp")
  if(NOT EXISTS "${version_file}")
    set(version_file "${headers}/json.hpp")
  endif()
  if(NOT EXISTS "${version_file}")
    message(FATAL_ERROR "No nlohmann/json headers in ${headers}.\n${nlohmann_json_hint}")
  endif()
  file(STRINGS "${version_file}" version_lines REGEX "#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) ")
  string(REGEX REPLACE ".*MAJOR ([0-9]+).*MINOR ([0-9]+).*PATCH ([0-9]+).*" "\\1.\\2.\\3" version "${version_lines}")
  if(NOT version MATCHES "^3\\." OR version VERSION_LESS 3.11.2)
    message(FATAL_ERROR "${headers} holds nlohmann/json ${version}; 3.11.2 or a later 3.x is needed.")
  endif()
  set(staged "${CMAKE_BINARY_DIR}/nlohmann-json-headers")
  file(REMOVE_RECURSE "${staged}")
  file(COPY "${headers}/" DESTINATION "${staged}/nlohmann")
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${staged}")
  message(STATUS "Using nlohmann/json ${version} headers from ${headers}")
else()
  find_package(nlohmann_json 3.11.2 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(
        FATAL_ERROR
        "manifest_check needs nlohmann/json 3.11.2 or a later 3.x.\n${nlohmann_json_hint}\n"
        "Elsewhere install nlohmann/json and point nlohmann_json_DIR at the folder "
        "holding its nlohmann_jsonConfig.cmake."
    )
  endif()
endif()
