# nlohmann/json is header-only and comes installed: Debian 12 packages it as
# nlohmann-json3-dev. It is never downloaded or vendored.

if(NOT TARGET nlohmann_json::nlohmann_json)
  find_package(nlohmann_json 3.11.2 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(
        FATAL_ERROR
        "manifest_check needs nlohmann/json 3.11.2 or a later 3.x.\n"
        "On Debian or Ubuntu install the package nlohmann-json3-dev:\n"
        "    apt-get install nlohmann-json3-dev\n"
        "Elsewhere install nlohmann/json and point nlohmann_json_DIR at the "
        "folder holding its nlohmann_jsonConfig.cmake."
    )
  endif()
endif()
