# MANIFEST_PATH is compiled into the checker as a string literal and used
# unchanged, so it must be an absolute path written with forward slashes:
# /dir/app.vrmanifest, or C:/dir/app.vrmanifest for a Windows target. Its text
# is checked here rather than with if(IS_ABSOLUTE), which judges by the host:
# a cross build on Linux must accept a drive letter.
#
# The path reaches the compiler through the build files of every generator,
# and each build tool reads some text there as its own. Configure refuses
# what a tool would rewrite; every other character is kept as given (tested
# with make, Ninja and Ninja Multi-Config: single quotes, backticks, & | < >
# ! * ? ^ = , : + ~ ( ) [ ] { } @ % DEL, spaces and UTF-8 text all reach the
# checker unchanged).
# The path is checked as written, before generator expressions are evaluated.
function(manifest_check_validate_path path)
  set(hint "Set MANIFEST_PATH to the absolute path of app.vrmanifest beside velkor.exe")
  if(path STREQUAL "")
    message(FATAL_ERROR "MANIFEST_PATH is empty. ${hint}.")
  endif()
  if(path MATCHES [[\\]])
    message(FATAL_ERROR "MANIFEST_PATH must use forward slashes: \"${path}\". ${hint}.")
  endif()

  # The bytes as hex text, each followed by a space ("2f 78 c3 bc "), so that
  # a pattern of whole bytes can only match at a byte.
  string(HEX "${path}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " bytes "${hex}")

  # A double quote would end the string literal, a semicolon would split the
  # compile definition in two, a # would start a comment in the build files.
  # A control character (01 to 1F) cannot be in a Windows file name, and all
  # but tab, line feed and carriage return cannot be in the XML of a Visual
  # Studio project; DEL (7F) can be in both, and is kept.
  if(path MATCHES "[\";#]" OR " ${bytes}" MATCHES " [01][0-9a-f] ")
    message(FATAL_ERROR "MANIFEST_PATH holds a character it cannot hold (\", ;, # or a control character): \"${path}\".")
  endif()

  # The checker reads the path as UTF-8 (std::filesystem::u8path); on Windows
  # other bytes cannot be converted and the checker fails at run time. Every
  # well-formed UTF-8 character is removed; any byte left begins none. The
  # characters are removed one match at a time: a single pattern repeated over
  # the whole path would recurse once per character and overflow the stack on
  # a long path.
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
        "MANIFEST_PATH is not UTF-8 text (its byte 0x${byte} begins no well-formed UTF-8 "
        "sequence): \"${path}\". The checker reads the path as UTF-8, and a Windows build "
        "fails on any other bytes; give the path in UTF-8."
    )
  endif()

  # A $ begins a variable reference in the build files. CMake passes $(NAME)
  # through to them on purpose: make substitutes it and Ninja stops at it.
  # The Visual Studio generators escape no $ at all, and MSBuild expands
  # $(NAME). Only $< passes, as the start of a generator expression, which
  # CMake evaluates before it writes the build files.
  if(path MATCHES [[\$([^<]|$)]])
    message(
        FATAL_ERROR
        "MANIFEST_PATH holds a $ that does not start a generator expression $<...>: "
        "\"${path}\". The build tools read a $ there as the start of a variable (make and "
        "MSBuild expand $(NAME), Ninja stops at it), so a $ may only begin $<...>."
    )
  endif()

  # Generator expressions that give a character refused above.
  if(path MATCHES [[\$<(QUOTE|SEMICOLON)>]])
    message(
        FATAL_ERROR
        "MANIFEST_PATH holds ${CMAKE_MATCH_0}, which gives a character it cannot hold: \"${path}\"."
    )
  endif()

  # The Visual Studio generators write the path into a project file whose
  # values MSBuild expands: %XX (two hex digits) is decoded to the byte XX,
  # %(NAME) is item metadata, @(NAME) an item list, and CMake escapes none of
  # them. A % or @ otherwise is kept.
  if(path MATCHES "%[0-9A-Fa-f][0-9A-Fa-f]|%\\(|@\\(")
    message(
        FATAL_ERROR
        "MANIFEST_PATH holds \"${CMAKE_MATCH_0}\", which MSBuild (the Visual Studio "
        "generators) would decode or expand: \"${path}\". A % may not be followed by two "
        "hex digits or by (, nor an @ by (."
    )
  endif()

  if(NOT path MATCHES "^(/|[A-Za-z]:/)")
    message(FATAL_ERROR "MANIFEST_PATH must be absolute, not \"${path}\". ${hint}.")
  endif()
endfunction()
