# MANIFEST_PATH reaches the checker through a header that CMake writes for
# each configuration with file(GENERATE), its generator expressions evaluated,
# as a raw string literal. No build tool reads it on a command line, so every
# character is kept as given ($, %, @, ;, #, " and the rest). Refused is only
# what no checker can use: a path that is empty or not absolute, a backslash,
# a control character, text that is not UTF-8, a path that ends in a slash
# or names a folder. An absolute path is /dir/... or,
# for a Windows target, C:/dir/...: it is judged by its text rather than with
# if(IS_ABSOLUTE), which judges by the host, so a cross build on Linux accepts
# a drive letter.
#
# A path without generator expressions is judged at configure; one with them is
# judged at build time on the value the build uses, before the checker is
# linked: cmake -DPATH_FILE=<the evaluated path's file> -P manifest-path.cmake

# Stops with the reason when PATH, the value the checker would read, cannot be
# used. WHERE says where that value came from, for the message.
function(manifest_check_validate_path path where)
  set(hint "Set MANIFEST_PATH to the absolute path of app.vrmanifest beside velkor.exe")
  if(path STREQUAL "")
    message(FATAL_ERROR "MANIFEST_PATH${where} is empty. ${hint}.")
  endif()
  if(path MATCHES [[[/\\]$]])
    message(FATAL_ERROR "MANIFEST_PATH${where} ends in a slash, so it names a folder, not a file: \"${path}\". ${hint}.")
  endif()
  if(path MATCHES [[\\]])
    message(FATAL_ERROR "MANIFEST_PATH${where} holds a backslash: \"${path}\". Write it with forward slashes.")
  endif()

  # The bytes as hex text, each followed by a space ("2f 78 c3 bc "), so that
  # a pattern of whole bytes can only match at a byte.
  string(HEX "${path}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " bytes "${hex}")
  # No file name holds one on Windows, and no report line could show it.
  if(" ${bytes}" MATCHES " [01][0-9a-f] ")
    message(FATAL_ERROR "MANIFEST_PATH${where} holds a control character: \"${path}\".")
  endif()

  # The checker reads the path as UTF-8; on Windows other bytes cannot be
  # converted. Every well-formed UTF-8 character is removed; any byte left
  # begins none. One match at a time: a single pattern repeated over the whole
  # path would recurse once per character and overflow on a long path.
  set(c "[89ab][0-9a-f] ") # a continuation byte, 80 to BF
  set(
      utf8_character
      "[0-7][0-9a-f] " # 00-7F, ASCII
      "(c[2-9a-f]|d[0-9a-f]) ${c}" # C2-DF: U+0080 to U+07FF
      "e0 [ab][0-9a-f] ${c}" # E0 A0-BF: from U+0800, no overlong form
      "e[1-9a-cef] ${c}${c}" # E1-EC, EE-EF
      "ed [89][0-9a-f] ${c}" # ED 80-9F: no UTF-16 surrogate
      "f0 [9ab][0-9a-f] ${c}${c}" # F0 90-BF: from U+10000, no overlong form
      "f[1-3] ${c}${c}${c}" # F1-F3
      "f4 8[0-9a-f] ${c}${c}" # F4 80-8F: up to U+10FFFF
  )
  list(JOIN utf8_character "|" utf8_character)
  string(REGEX REPLACE "${utf8_character}" "" stray "${bytes}")
  if(NOT stray STREQUAL "")
    string(SUBSTRING "${stray}" 0 2 byte)
    string(TOUPPER "${byte}" byte)
    message(
        FATAL_ERROR
        "MANIFEST_PATH${where} is not UTF-8 text (its byte 0x${byte} begins no well-formed "
        "UTF-8 sequence): \"${path}\". The checker reads the path as UTF-8."
    )
  endif()

  if(NOT path MATCHES "^(/|[A-Za-z]:/)")
    message(FATAL_ERROR "MANIFEST_PATH${where} must be absolute, not \"${path}\". ${hint}.")
  endif()
  if(IS_DIRECTORY "${path}")
    message(FATAL_ERROR "MANIFEST_PATH${where} names a folder, not a file: \"${path}\". ${hint}.")
  endif()
endfunction()

# The path as written in CMake: judged now unless generator expressions will
# change it. The raw string literal that holds it ends at )MANIFEST_PATH".
function(manifest_check_validate_setting path)
  string(FIND "${path}" [[)MANIFEST_PATH"]] end)
  if(NOT end EQUAL -1)
    message(FATAL_ERROR "MANIFEST_PATH holds )MANIFEST_PATH\", which ends the literal that carries it: \"${path}\".")
  endif()
  string(FIND "${path}" "$<" expression)
  if(expression EQUAL -1)
    manifest_check_validate_path("${path}" "")
  endif()
endfunction()

# ---- Build time: the evaluated path of one configuration ----

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED PATH_FILE)
  file(READ "${PATH_FILE}" path)
  manifest_check_validate_path("${path}" " (after its generator expressions)")
endif()
