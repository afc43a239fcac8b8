# A stand-in for 64-bit MSVC 19.40 on a Linux host: configure writes the
# command lines that an MSVC build would run, to be read (a build runs
# /bin/true for every tool, and makes nothing). As Windows is not the host,
# CMake counts the build as a cross build.
set(CMAKE_SYSTEM_NAME Windows)
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER /bin/true)
  set(CMAKE_${lang}_COMPILER_ID MSVC)
  set(CMAKE_${lang}_COMPILER_ID_RUN TRUE) # what identifying the compiler would find
  set(CMAKE_${lang}_COMPILER_FORCED TRUE) # no test compile
  set(CMAKE_${lang}_COMPILER_VERSION 19.40.33811.0)
  set(MSVC_${lang}_ARCHITECTURE_ID x64)
endforeach()
set(CMAKE_CXX_COMPILE_FEATURES cxx_std_98 cxx_std_11 cxx_std_14 cxx_std_17)
foreach(tool LINKER AR MT RC_COMPILER)
  set(CMAKE_${tool} /bin/true)
endforeach()
