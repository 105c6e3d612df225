# The archive packer for the build machine, made from the same sources with
# the host compiler while the rest of the tree is cross-built, so that the
# build can run it.
#
#   RIDOV_PACKER                   the packer executable
#   ridov_pack_archive(OUTPUT <archive> FOLDER <folder> [ARGS <packer options>...])
#                                  packs a folder at build time
#   ridov_use_packer(<target>)     compiles the packer core into a target
#                                  and gives it the sample archives below
include_guard(GLOBAL)
include(ExternalProject)

set(_ridov_packer_source "${CMAKE_CURRENT_LIST_DIR}")
# Programs are searched on the host (the toolchain sets the program root
# path mode to NEVER).
find_program(RIDOV_HOST_CXX NAMES g++ c++ clang++ REQUIRED)
set(RIDOV_PACKER "${CMAKE_BINARY_DIR}/packer-host/packer")

ExternalProject_Add(packer_host
  SOURCE_DIR "${_ridov_packer_source}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/packer-host"
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=${RIDOV_HOST_CXX} -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${RIDOV_PACKER}")

function(ridov_pack_archive)
  cmake_parse_arguments(P "" "OUTPUT;FOLDER" "ARGS" ${ARGN})
  file(GLOB_RECURSE _inputs CONFIGURE_DEPENDS "${P_FOLDER}/*")
  get_filename_component(_dir "${P_OUTPUT}" DIRECTORY)
  add_custom_command(OUTPUT "${P_OUTPUT}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_dir}"
    COMMAND "${RIDOV_PACKER}" -q ${P_ARGS} "${P_FOLDER}" "${P_OUTPUT}"
    DEPENDS packer_host "${RIDOV_PACKER}" ${_inputs}
    COMMENT "Packing ${P_OUTPUT}"
    VERBATIM)
endfunction()

# Sample archives of the packer's own folder, one per way of packing; the
# test reads them back and compares them with the files.
function(ridov_use_packer target)
  target_sources(${target} PRIVATE "${_ridov_packer_source}/ArchivePacker.cpp")
  target_include_directories(${target} PRIVATE "${_ridov_packer_source}")
  set(_out "${CMAKE_CURRENT_BINARY_DIR}/packer_samples")
  set(_samples "")
  foreach(_sample "v1;-v;1" "v3_key;-v;3;-k;packer key" "v5_stored;-v;5;-s" "v6;-v;6" "v6_packed;-v;6;-p")
    list(POP_FRONT _sample _name)
    ridov_pack_archive(OUTPUT "${_out}/${_name}.RVA" FOLDER "${_ridov_packer_source}" ARGS ${_sample})
    list(APPEND _samples "${_out}/${_name}.RVA")
  endforeach()
  add_custom_target(${target}_packer_samples DEPENDS ${_samples})
  add_dependencies(${target} ${target}_packer_samples)
  target_compile_definitions(${target} PRIVATE
    RIDOV_PACKER_SAMPLES="${_out}" RIDOV_PACKER_SAMPLE_SOURCE="${_ridov_packer_source}")
endfunction()
