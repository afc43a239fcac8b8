# Judges paths with cmake/manifest-path.cmake, each in a child `cmake -P` (a
# refusal ends the script that meets it): every path that no checker can use
# stops with its reason and names the path; every other one passes.
#   cmake -P manifest-path.cmake

# ---- Child: judge the path in the environment, as configure does ----

if(CHILD)
  include("${CMAKE_CURRENT_LIST_DIR}/../cmake/manifest-path.cmake")
  manifest_check_validate_setting("$ENV{MANIFEST_CHECK_TEST_PATH}")
  return()
endif()

# ---- Parent ----

set(failures 0)
# Judges PATH in a child; REASON is what its refusal must say, or "" if the
# path must pass. CMake wraps and indents a message: whitespace runs count as
# one space.
function(expect path reason)
  set(ENV{MANIFEST_CHECK_TEST_PATH} "${path}")
  execute_process(
      COMMAND "${CMAKE_COMMAND}" -DCHILD=ON -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET
  )
  string(REGEX REPLACE "[ \n]+" " " err "${err}")
  string(FIND "${err}" "${reason}" reason_at)
  string(REGEX REPLACE "[ \n]+" " " shown "\"${path}\"")
  string(FIND "${err}" "${shown}" path_at)
  if(reason STREQUAL "" AND NOT rc EQUAL 0)
    message(SEND_ERROR "refused, should pass: ${path}\n${err}")
  elseif(NOT reason STREQUAL "" AND (rc EQUAL 0 OR reason_at EQUAL -1 OR (path_at EQUAL -1 AND NOT path STREQUAL "")))
    message(SEND_ERROR "not refused with \"${reason}\" and the path: ${path}\n${err}")
  else()
    return()
  endif()
  math(EXPR failures "${failures} + 1")
  set(failures ${failures} PARENT_SCOPE)
endfunction()

# The bytes given as hex text (c3bc is ü), for text that is not UTF-8.
function(bytes out hex)
  set(text "")
  string(REGEX MATCHALL ".." pairs "${hex}")
  foreach(byte IN LISTS pairs)
    math(EXPR code "0x${byte}")
    string(ASCII ${code} char)
    string(APPEND text "${char}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# ---- What no checker can use ----

expect("" "is empty")
expect("app.vrmanifest" "must be absolute")
expect("bin/Release/app.vrmanifest" "must be absolute")
expect("C:app.vrmanifest" "must be absolute")
expect("//server/share/app.vrmanifest" "") # a POSIX path, and a network path in Windows' own form
expect([[C:\x\app.vrmanifest]] "holds a backslash")
expect([[/x/a\b/app.vrmanifest]] "holds a backslash")
foreach(code IN ITEMS 1 9 10 13 31)
  string(ASCII ${code} control)
  expect("/x/a${control}b/app.vrmanifest" "holds a control character")
endforeach()
# Not UTF-8: a lone continuation byte, a lead byte without its continuation,
# an overlong form, a UTF-16 surrogate, a code point past U+10FFFF, bytes
# that UTF-8 never uses.
foreach(hex IN ITEMS 80 c3 c0af e080af eda080 f4908080 fe ff)
  bytes(text "${hex}")
  expect("/x/a${text}b/app.vrmanifest" "is not UTF-8 text")
endforeach()
# A folder: by its trailing slash, or by what configure sees there.
expect("/x/bin/Release/" "ends in a slash")
expect([[C:\x\bin\Release\]] "ends in a slash")
expect("${CMAKE_CURRENT_LIST_DIR}" "names a folder")
# The literal that carries the path ends at )MANIFEST_PATH".
expect([[/x/)MANIFEST_PATH"/app.vrmanifest]] "ends the literal")

# ---- Everything else is kept ----

# What build tools would rewrite on a command line ($, %, @, ;, #, "), quotes,
# globs, redirections, DEL and text beyond ASCII, as the checker takes them
# through a generated header.
string(ASCII 127 del)
foreach(
    folder IN ITEMS
    [[odd $(HOME) %41 @(x) #"q]] "a$<SEMICOLON>b" [[${HOME} $$ 100% %(x)]] [['q' `b` &|<>!*?^=,:+ ()[]{} ~u -d]]
    "${del} ü € 𝄞" [[)MANIFEST_PATH]] [[MANIFEST_PATH"]]
)
  expect("/x/${folder}/app.vrmanifest" "")
  expect("C:/x/${folder}/app.vrmanifest" "")
endforeach()
expect("/x/a;b/app.vrmanifest" "")
# Generator expressions are judged after they are evaluated, at build time.
expect("$<TARGET_FILE_DIR:velkor>/app.vrmanifest" "")
expect("${CMAKE_CURRENT_LIST_DIR}/bin/$<CONFIG>/app.vrmanifest" "")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} paths judged wrongly")
endif()
message(STATUS "every path judged as expected")
