# ---- Developer mode ----

# Developer mode adds the project's own tests and checks. They are of no use
# to an application that only consumes the checker, so it is off by default.
if(PROJECT_IS_TOP_LEVEL)
  option(manifest_check_DEVELOPER_MODE "Enable developer mode" OFF)
endif()
