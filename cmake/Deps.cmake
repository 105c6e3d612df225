# Imported static targets for the third-party libraries that
# tools/setup/deps.sh builds into a prefix:
#   ridov_dep::zlib    mingw's libz.a (libz-mingw-w64-dev)
#   ridov_dep::png     libpng16 + zlib
#   ridov_dep::jpeg    libjpeg (libjpeg-turbo)
#   ridov_dep::ogg     libogg
#   ridov_dep::vorbis  libvorbisfile + libvorbis + ogg
#   ridov_dep::theora  libtheoradec + ogg
#   ridov_dep::bullet  BulletDynamics + BulletCollision + LinearMath
#   ridov_dep::lz4     liblz4 (benchmarks only; the library does not link it)
# Usage: cmake -DRIDOV_DEPS_PREFIX="$(tools/setup/deps.sh)" ...

set(RIDOV_DEPS_PREFIX "${RIDOV_DEPS_PREFIX}" CACHE PATH
    "Third-party prefix printed by tools/setup/deps.sh")

if(NOT RIDOV_DEPS_PREFIX)
  message(FATAL_ERROR
    "RIDOV_DEPS_PREFIX is not set. Build the libraries with tools/setup/deps.sh "
    "and pass its output: -DRIDOV_DEPS_PREFIX=\"$(tools/setup/deps.sh)\"")
endif()

set(_ridov_dep_lib "${RIDOV_DEPS_PREFIX}/lib")
set(_ridov_dep_inc "${RIDOV_DEPS_PREFIX}/include")
set(_ridov_dep_missing "")
foreach(_f libpng16.a libjpeg.a libogg.a libvorbis.a libvorbisfile.a libtheoradec.a
           libLinearMath.a libBulletCollision.a libBulletDynamics.a liblz4.a)
  if(NOT EXISTS "${_ridov_dep_lib}/${_f}")
    list(APPEND _ridov_dep_missing "${_f}")
  endif()
endforeach()
if(_ridov_dep_missing)
  list(JOIN _ridov_dep_missing ", " _ridov_dep_missing)
  message(FATAL_ERROR
    "RIDOV_DEPS_PREFIX (${RIDOV_DEPS_PREFIX}) is not a complete prefix from "
    "tools/setup/deps.sh (missing in lib/: ${_ridov_dep_missing}). Run "
    "tools/setup/deps.sh and reconfigure with -DRIDOV_DEPS_PREFIX=<its output>.")
endif()

# mingw's static zlib, located by the compiler itself (libz.dll.a sits next
# to it, so -lz would link the DLL).
if(NOT RIDOV_ZLIB_LIBRARY)
  if(CMAKE_C_COMPILER)
    set(_ridov_cc "${CMAKE_C_COMPILER}")
  else()
    set(_ridov_cc "${CMAKE_CXX_COMPILER}")
  endif()
  execute_process(COMMAND "${_ridov_cc}" -print-file-name=libz.a
                  OUTPUT_VARIABLE _ridov_zlib OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_ridov_zlib}" OR NOT EXISTS "${_ridov_zlib}")
    message(FATAL_ERROR
      "mingw's static zlib (libz.a) not found by ${_ridov_cc}; "
      "install libz-mingw-w64-dev or set RIDOV_ZLIB_LIBRARY")
  endif()
  get_filename_component(_ridov_zlib "${_ridov_zlib}" REALPATH)
  set(RIDOV_ZLIB_LIBRARY "${_ridov_zlib}" CACHE FILEPATH "Static zlib for the target")
endif()

# ridov_dep_import(<name> <library file> [INCLUDE <dir>] [LINK <items>...])
function(ridov_dep_import name file)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "INCLUDE" "LINK")
  add_library(ridov_dep::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(ridov_dep::${name} PROPERTIES IMPORTED_LOCATION "${file}")
  if(arg_INCLUDE)
    set_target_properties(ridov_dep::${name} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${arg_INCLUDE}")
  endif()
  if(arg_LINK)
    set_target_properties(ridov_dep::${name} PROPERTIES
      INTERFACE_LINK_LIBRARIES "${arg_LINK}")
  endif()
endfunction()

if(NOT TARGET ridov_dep::zlib)
  # zlib.h is in the compiler's default include path.
  ridov_dep_import(zlib "${RIDOV_ZLIB_LIBRARY}")
  ridov_dep_import(png "${_ridov_dep_lib}/libpng16.a"
    INCLUDE "${_ridov_dep_inc}" LINK ridov_dep::zlib)
  ridov_dep_import(jpeg "${_ridov_dep_lib}/libjpeg.a" INCLUDE "${_ridov_dep_inc}")
  ridov_dep_import(ogg "${_ridov_dep_lib}/libogg.a" INCLUDE "${_ridov_dep_inc}")
  ridov_dep_import(vorbis "${_ridov_dep_lib}/libvorbisfile.a"
    INCLUDE "${_ridov_dep_inc}" LINK "${_ridov_dep_lib}/libvorbis.a" ridov_dep::ogg)
  ridov_dep_import(theora "${_ridov_dep_lib}/libtheoradec.a"
    INCLUDE "${_ridov_dep_inc}" LINK ridov_dep::ogg)
  ridov_dep_import(bullet "${_ridov_dep_lib}/libBulletDynamics.a"
    INCLUDE "${_ridov_dep_inc}/bullet"
    LINK "${_ridov_dep_lib}/libBulletCollision.a" "${_ridov_dep_lib}/libLinearMath.a")
  set_target_properties(ridov_dep::bullet PROPERTIES IMPORTED_LINK_INTERFACE_LANGUAGES "CXX")
  ridov_dep_import(lz4 "${_ridov_dep_lib}/liblz4.a" INCLUDE "${_ridov_dep_inc}")
endif()
