# Runs manifest_check_validate_path on paths the build tools would rewrite and
# on unusual paths they keep, each in a child `cmake -P` (a refusal ends the
# script that meets it): every refused path stops with its reason and names
# the path, every kept one passes.
#   cmake -P validate.cmake

# The bytes given as hex text (c3bc -> ü), for text that is not UTF-8.
function(bytes out hex)
  set(text "")
  string(LENGTH "${hex}" length)
  math(EXPR last "${length} - 2")
  foreach(at RANGE 0 ${last} 2)
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR code "0x${byte}")
    string(ASCII ${code} char)
    string(APPEND text "${char}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# ---- Child: validate the path in the environment ----

# The path comes in the environment, as any bytes but a NUL, however long.
if(CHILD)
  include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/manifest-path.cmake")
  manifest_check_validate_path("$ENV{MANIFEST_CHECK_TEST_PATH}")
  return()
endif()

# ---- Parent ----

# Validates PATH in a child; sets rc and the child's error text, its
# whitespace runs made one space (CMake wraps and indents the message).
function(validate path)
  set(ENV{MANIFEST_CHECK_TEST_PATH} "${path}")
  execute_process(
      COMMAND "${CMAKE_COMMAND}" -DCHILD=ON -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET
  )
  string(REGEX REPLACE "[ \n]+" " " err "${err}")
  set(rc "${rc}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# Reports a failed case, cut short: a path may be thousands of bytes long.
function(fail text)
  string(LENGTH "${text}" length)
  if(length GREATER 600)
    string(SUBSTRING "${text}" 0 600 text)
    string(APPEND text "...")
  endif()
  message(SEND_ERROR "${text}")
  set_property(GLOBAL APPEND PROPERTY failures x)
endfunction()

# PATH stops configure with a message holding REASON and the quoted path.
function(expect_refused path reason)
  validate("${path}")
  string(REGEX REPLACE "[ \n]+" " " reason "${reason}")
  string(FIND "${err}" "${reason}" reason_at)
  set(path_at 0)
  if(NOT path STREQUAL "")
    string(FIND "${err}" "\"${path}\"" path_at)
  endif()
  if(rc EQUAL 0)
    fail("accepted, should be refused: ${path}")
  elseif(reason_at EQUAL -1 OR path_at EQUAL -1)
    fail("refused without \"${reason}\" and the path: ${path}\n${err}")
  endif()
endfunction()

function(expect_accepted path)
  validate("${path}")
  if(NOT rc EQUAL 0)
    fail("refused, should be accepted: ${path}\n${err}")
  endif()
endfunction()

# ---- A $ other than the start of a generator expression ----

set(dollar "does not start a generator expression")
# make substitutes $(NAME) and Ninja stops at it; for MSBuild no $ is escaped.
foreach(
    folder IN ITEMS
    [[d$(HOME)]] [[d$()]] [[d${HOME}]] [[d$HOME]] [[d$$e]] [[d$]] [[$ENV{HOME}]] [[d$(]]
    [[$<CONFIG>$]] [[$<CONFIG>$(X)]]
)
  expect_refused("/x/${folder}/app.vrmanifest" "${dollar}")
endforeach()
expect_refused("/x/app.vrmanifest$" "${dollar}")
expect_refused("C:/x/d$(Configuration)/app.vrmanifest" "${dollar}")

# Generator expressions are evaluated before the path is compiled in.
expect_accepted("/x/bin/$<CONFIG>/app.vrmanifest")
expect_accepted("/x/$<$<CONFIG:Debug>:debug>/app.vrmanifest")
# ... but not to a character that a path cannot hold.
expect_refused("/x/a$<QUOTE>b/app.vrmanifest" "which gives a character it cannot hold")
expect_refused("/x/a$<SEMICOLON>b/app.vrmanifest" "which gives a character it cannot hold")

# ---- What MSBuild expands or decodes ----

set(msbuild "which MSBuild")
foreach(folder IN ITEMS "d%41e" "d%2fe" "d%2Fe" "d%ffe" "100%25" "d%(X)" "d%(" "d@(X)" "d@(")
  expect_refused("C:/x/${folder}/app.vrmanifest" "${msbuild}")
endforeach()
# Only a % before two hex digits or (, and an @ before (, are read so.
foreach(folder IN ITEMS "100%" "d%ge" "d%4g" "d%%e" "d%e" "d@e" "d@" "@x(1)" "d (1)" "d'e")
  expect_accepted("C:/x/${folder}/app.vrmanifest")
endforeach()

# ---- Control characters ----

# Not in a Windows file name, nor in the XML of a Visual Studio project.
set(control [[(", ;, # or a control character)]])
foreach(hex IN ITEMS 01 07 0b 0c 1b 1f)
  bytes(char ${hex})
  expect_refused("/x/d${char}e/app.vrmanifest" "${control}")
endforeach()
bytes(del 7f) # DEL may name a Windows file and stand in XML
expect_accepted("/x/d${del}e/app.vrmanifest")

# ---- UTF-8 ----

# Well-formed: the first and last character of each length and around the
# UTF-16 surrogates, which UTF-8 never encodes.
foreach(
    hex IN ITEMS
    c280 dfbf e0a080 ed9fbf ee8080 efbfbf f0908080 f48fbfbf c3bc e282ac f09d849e
)
  bytes(char ${hex})
  expect_accepted("/x/d${char}e/app.vrmanifest")
endforeach()

# Ill-formed: overlong forms, surrogates, past U+10FFFF, bytes that never
# occur, stray or missing continuation bytes, Latin-1 text. The message
# names the first byte that begins no well-formed sequence.
set(
    ill_formed
    "fc:FC" "c0af:C0" "c1bf:C1" "e09fbf:E0" "eda080:ED" "edbfbf:ED" "f08fbfbf:F0"
    "f4908080:F4" "f5808080:F5" "ff:FF" "80:80" "bf:BF" "c3:C3" "e282:E2" "f09d84:F0"
    "c3bcbc:BC" "82e282ac:82"
)
foreach(case IN LISTS ill_formed)
  string(REPLACE ":" ";" case "${case}")
  list(GET case 0 hex)
  list(GET case 1 first_bad)
  bytes(char ${hex})
  expect_refused("/x/lat${char}e/app.vrmanifest" "is not UTF-8 text (its byte 0x${first_bad} begins")
endforeach()
bytes(lone_c3 c3)
expect_refused("/x/app.vrmanifest${lone_c3}" "is not UTF-8 text (its byte 0xC3 begins")

# A long path is read without running out of stack.
string(REPEAT "/folder-ü" 4000 long)
expect_accepted("${long}/app.vrmanifest")
expect_refused("${long}/lat${del}${lone_c3}/app.vrmanifest" "is not UTF-8 text")

# ---- Unchanged ----

expect_refused("" "MANIFEST_PATH is empty")
expect_refused("x/app.vrmanifest" "must be absolute")
expect_refused([[C:\x\app.vrmanifest]] "must use forward slashes")
expect_refused([[/x/"q"/app.vrmanifest]] "${control}")

get_property(failures GLOBAL PROPERTY failures)
if(failures)
  list(LENGTH failures count)
  message(FATAL_ERROR "${count} MANIFEST_PATH case(s) failed")
endif()
message(STATUS "All MANIFEST_PATH cases passed")
