# ---- Developer mode ----

# Developer mode adds the project's own tests and checks. They are of no use
# to an application that only consumes the checker, so it is off by default.
if(PROJECT_IS_TOP_LEVEL)
  option(manifest_check_DEVELOPER_MODE "Enable developer mode" OFF)
endif()

# ---- Reference manifest ----

# A standalone build places the shipped reference manifest at the default
# MANIFEST_PATH, as an application's build would place its own. An application
# build emits its own manifest there, so for it the default is off: a placed
# reference would hide a missing manifest.
option(
    MANIFEST_CHECK_PLACE_REFERENCE
    "Copy the reference app.vrmanifest to the default MANIFEST_PATH at build time"
    "${PROJECT_IS_TOP_LEVEL}"
)
