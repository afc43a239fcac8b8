# nlohmann/json is header-only, and the checker takes nothing of a copy but
# its headers: a copy's compile options, definitions and link options
# (-fno-exceptions, JSON_NOEXCEPTION, JSON_DIAGNOSTICS) would change what the
# checker is. The copy is the application's own, if it defines the target
# nlohmann_json::nlohmann_json or nlohmann_json (ALIAS or not) before it adds
# this project, and otherwise the installed package, found with find_package.
# It is never downloaded. Sets manifest_check_json_include_dirs, the include
# directories for the checker: those of the copy's target and of what it
# links, as CMake collects them (nlohmann's own package config defines
# nlohmann_json as a link to nlohmann_json::nlohmann_json).

# The include directories of TARGET and of the targets it links, an ALIAS
# followed to what it names, as they can be read now: to find the version,
# and to tell one copy from another.
function(manifest_check_include_dirs_of target out)
  set(queue ${target})
  set(seen "")
  set(dirs "")
  while(queue)
    list(POP_FRONT queue target)
    get_target_property(aliased ${target} ALIASED_TARGET)
    if(aliased)
      set(target ${aliased})
    endif()
    if(target IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${target})
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(includes)
      list(APPEND dirs ${includes})
    endif()
    get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<(BUILD_INTERFACE|LINK_ONLY):(.*)>$" "\\2" link "${link}")
      if(TARGET "${link}")
        list(APPEND queue "${link}")
      endif()
    endforeach()
  endwhile()
  set(${out} "${dirs}" PARENT_SCOPE)
endfunction()

# The version that the headers in DIRS declare ("" if none is found there
# now: a directory of the build tree may not be filled yet).
function(manifest_check_json_version dirs out)
  set(version "")
  foreach(dir IN LISTS dirs)
    string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" dir "${dir}")
    foreach(header IN ITEMS nlohmann/detail/abi_macros.hpp nlohmann/json.hpp)
      if(version STREQUAL "" AND NOT dir MATCHES "\\$<" AND EXISTS "${dir}/${header}")
        file(STRINGS "${dir}/${header}" defines REGEX "^#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+")
        string(REGEX REPLACE "[^;]*_(MAJOR|MINOR|PATCH) +([0-9]+)[^;]*" "\\2" numbers "${defines}")
        list(JOIN numbers "." version)
      endif()
    endforeach()
  endforeach()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

set(manifest_check_json_package OFF)
if(TARGET nlohmann_json::nlohmann_json)
  set(json_target nlohmann_json::nlohmann_json)
  set(copy "the application's target nlohmann_json::nlohmann_json")
elseif(TARGET nlohmann_json)
  set(json_target nlohmann_json)
  set(copy "the application's target nlohmann_json")
else()
  set(manifest_check_json_package ON)
  set(json_target nlohmann_json::nlohmann_json)
  # Header-only, the build host's package serves a cross build too. Its
  # targets stay this project's, whatever the application asks of packages.
  set(CMAKE_FIND_PACKAGE_TARGETS_GLOBAL OFF)
  find_package(nlohmann_json 3.11.2 QUIET)
  if(NOT nlohmann_json_FOUND AND CMAKE_CROSSCOMPILING)
    find_package(nlohmann_json 3.11.2 QUIET NO_CMAKE_FIND_ROOT_PATH)
  endif()
  if(NOT nlohmann_json_FOUND)
    message(
        FATAL_ERROR
        "manifest_check needs nlohmann/json 3.11.2 or a later 3.x, and found none. Provide one:\n"
        "  - your own copy, as the target nlohmann_json::nlohmann_json or nlohmann_json, defined "
        "before manifest_check is added (add_subdirectory of the library, or "
        "find_package(nlohmann_json));\n"
        "  - the installed package: nlohmann-json3-dev on Debian or Ubuntu; nlohmann-json with "
        "vcpkg, named in the application's own vcpkg.json; elsewhere set nlohmann_json_DIR to "
        "the folder that holds nlohmann_jsonConfig.cmake."
    )
  endif()
  set(copy "the package found at ${nlohmann_json_DIR}")
endif()
manifest_check_include_dirs_of(${json_target} manifest_check_json_headers)
get_target_property(aliased ${json_target} ALIASED_TARGET)
if(aliased)
  set(json_target ${aliased})
endif()
set(manifest_check_json_include_dirs "$<TARGET_PROPERTY:${json_target},INTERFACE_INCLUDE_DIRECTORIES>")
if(manifest_check_json_package)
  # In a cross build the package's include folder may be the build host's
  # /usr/include, whose C library headers would break the build: only its
  # nlohmann/ folder is copied, into this project's build folder.
  if(CMAKE_CROSSCOMPILING)
    set(staged "${PROJECT_BINARY_DIR}/nlohmann-json-headers")
    file(REMOVE_RECURSE "${staged}")
    foreach(dir IN LISTS manifest_check_json_headers)
      if(EXISTS "${dir}/nlohmann/json.hpp" AND NOT EXISTS "${staged}/nlohmann/json.hpp")
        file(COPY "${dir}/nlohmann" DESTINATION "${staged}")
      endif()
    endforeach()
    set(manifest_check_json_include_dirs "${staged}")
    string(APPEND copy " (its nlohmann/ folder only)")
  endif()
endif()

manifest_check_json_version("${manifest_check_json_headers}" version)
if(version STREQUAL "")
  set(version "(its version is checked as the checker compiles)")
elseif(version VERSION_LESS 3.11.2 OR NOT version VERSION_LESS 4)
  message(FATAL_ERROR "manifest_check needs nlohmann/json 3.11.2 or a later 3.x, not ${version} from ${copy}.")
endif()
message(STATUS "manifest_check: nlohmann/json ${version}, ${copy}")

# A copy that the application defines after adding this project is not the
# one the checker uses: say so when configure ends, unless it is the same. The
# deferred call runs in the top-level folder, so what it compares with is
# kept in a global property rather than in this folder's variables.
function(manifest_check_warn_json_defined_late)
  get_property(used GLOBAL PROPERTY manifest_check_json_headers)
  foreach(name IN ITEMS nlohmann_json::nlohmann_json nlohmann_json)
    if(TARGET ${name})
      manifest_check_include_dirs_of(${name} dirs)
      if(NOT dirs STREQUAL used)
        message(
            WARNING
            "manifest_check: this build defines ${name} after adding manifest_check, which uses "
            "the installed package instead. Define it before adding manifest_check."
        )
        return()
      endif()
    endif()
  endforeach()
endfunction()
if(manifest_check_json_package AND NOT PROJECT_IS_TOP_LEVEL)
  set_property(GLOBAL PROPERTY manifest_check_json_headers "${manifest_check_json_headers}")
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL manifest_check_warn_json_defined_late)
endif()
