# MANIFEST_PATH is compiled into the checker as a string literal and used
# unchanged, so it must be an absolute path written with forward slashes:
# /dir/app.vrmanifest, or C:/dir/app.vrmanifest for a Windows target. Its text
# is checked here rather than with if(IS_ABSOLUTE), which judges by the host:
# a cross build on Linux must accept a drive letter.
function(manifest_check_validate_path path)
  set(hint "Set MANIFEST_PATH to the absolute path of app.vrmanifest beside velkor.exe")
  if(path STREQUAL "")
    message(FATAL_ERROR "MANIFEST_PATH is empty. ${hint}.")
  endif()
  if(path MATCHES [[\\]])
    message(FATAL_ERROR "MANIFEST_PATH must use forward slashes: \"${path}\". ${hint}.")
  endif()
  # A double quote would end the string literal, a semicolon would split the
  # compile definition in two, a # would start a comment in the build files;
  # control characters have no place in a path.
  if(path MATCHES "[\";#\n\r\t]")
    message(FATAL_ERROR "MANIFEST_PATH holds a character it cannot hold (\", ;, # or a control character): \"${path}\".")
  endif()
  if(NOT path MATCHES "^(/|[A-Za-z]:/)")
    message(FATAL_ERROR "MANIFEST_PATH must be absolute, not \"${path}\". ${hint}.")
  endif()
endfunction()
