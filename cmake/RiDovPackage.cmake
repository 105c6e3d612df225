# The library installed as a CMake package (cmake --install <build> --prefix <dir>):
#   include/RiDov.h, lib/libRiDov.a
#   lib/RiDov/third-party/  copies of the third-party archives it links, so
#                           the prefix needs nothing from the build machine
#   lib/cmake/RiDov/        RiDovConfig.cmake, RiDovConfigVersion.cmake and
#                           the exported target RiDov::RiDov
# A program's project using cmake/mingw-i686.cmake writes
# find_package(RiDov REQUIRED) and links RiDov::RiDov.
include(CMakePackageConfigHelpers)

set(RIDOV_PACKAGE_CONFIG_DIR lib/cmake/RiDov)
set(RIDOV_PACKAGE_DEPS_DIR lib/RiDov/third-party)

# The package version from RiDov.h: "3.11d" is 3.11.4 (the letter counts from a = 1).
file(STRINGS "${PROJECT_SOURCE_DIR}/Source/Library/RiDov.h" _ridov_version_line
     REGEX "^#define RIDOV_VERSION_TEXT ")
if(NOT _ridov_version_line MATCHES "\"([0-9]+)\\.([0-9]+)([a-z]?)\"")
  message(FATAL_ERROR "RIDOV_VERSION_TEXT in RiDov.h is not <major>.<minor>[letter]: ${_ridov_version_line}")
endif()
set(_ridov_patch 0)
if(CMAKE_MATCH_3)
  string(FIND "abcdefghijklmnopqrstuvwxyz" "${CMAKE_MATCH_3}" _ridov_patch)
  math(EXPR _ridov_patch "${_ridov_patch} + 1")
endif()
set(RIDOV_PACKAGE_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${_ridov_patch}")

# The archives behind the ridov_dep:: targets the library links (cmake/Deps.cmake),
# copied under their plain names (the cache may hold symbolic links).
set(_ridov_package_archives
  "${RIDOV_ZLIB_LIBRARY}" "${_ridov_dep_lib}/libpng16.a" "${_ridov_dep_lib}/libjpeg.a"
  "${_ridov_dep_lib}/libogg.a" "${_ridov_dep_lib}/libvorbis.a" "${_ridov_dep_lib}/libvorbisfile.a"
  "${_ridov_dep_lib}/libtheoradec.a" "${_ridov_dep_lib}/libBulletDynamics.a"
  "${_ridov_dep_lib}/libBulletCollision.a" "${_ridov_dep_lib}/libLinearMath.a")
foreach(_archive IN LISTS _ridov_package_archives)
  get_filename_component(_name "${_archive}" NAME)
  get_filename_component(_real "${_archive}" REALPATH)
  install(FILES "${_real}" DESTINATION ${RIDOV_PACKAGE_DEPS_DIR} RENAME "${_name}")
endforeach()

install(EXPORT RiDovTargets NAMESPACE RiDov:: DESTINATION ${RIDOV_PACKAGE_CONFIG_DIR})
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/RiDovConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/package/RiDovConfig.cmake"
  INSTALL_DESTINATION ${RIDOV_PACKAGE_CONFIG_DIR}
  PATH_VARS RIDOV_PACKAGE_DEPS_DIR)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/package/RiDovConfigVersion.cmake"
  VERSION ${RIDOV_PACKAGE_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/package/RiDovConfig.cmake"
  "${CMAKE_BINARY_DIR}/package/RiDovConfigVersion.cmake" DESTINATION ${RIDOV_PACKAGE_CONFIG_DIR})
