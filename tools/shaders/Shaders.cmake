# The library's shader code, built from Source/Library/Shaders: the shader
# compiler (a target program, run under Wine) compiles every entry of
# shaders.list, our packer packs the base and filter archives and one LZ
# block each of them and of the code tables, and the blocks become byte
# arrays in a generated source of the library.
#
#   ridov_embed_shaders(<target>)
include_guard(GLOBAL)

set(_ridov_shader_tools "${CMAKE_CURRENT_LIST_DIR}")

function(ridov_embed_shaders target source_dir)
  add_executable(shader_build "${_ridov_shader_tools}/ShaderBuild.cpp")
  set(_out "${CMAKE_BINARY_DIR}/shaders")
  file(GLOB _sources CONFIGURE_DEPENDS "${source_dir}/*")
  set(_cpp "${_out}/ShaderCodeBlocks.cpp")
  add_custom_command(OUTPUT "${_cpp}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${_out}/code"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_out}/code/base" "${_out}/code/filter"
    COMMAND bash "${_ridov_shader_tools}/run_wine.sh" "$<TARGET_FILE:shader_build>"
      "${source_dir}/shaders.list" "${source_dir}" "${_out}/code"
    COMMAND "${RIDOV_PACKER}" -q -s "${_out}/code/base" "${_out}/base.RVA"
    COMMAND "${RIDOV_PACKER}" -q -s "${_out}/code/filter" "${_out}/filter.RVA"
    COMMAND "${RIDOV_PACKER}" --lz "${_out}/base.RVA" "${_out}/base.lz"
    COMMAND "${RIDOV_PACKER}" --lz "${_out}/filter.RVA" "${_out}/filter.lz"
    COMMAND "${RIDOV_PACKER}" --lz "${_out}/code/model.bin" "${_out}/model.lz"
    COMMAND "${RIDOV_PACKER}" --lz "${_out}/code/rgbamix.bin" "${_out}/rgbamix.lz"
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${_cpp}
      "-DBLOCKS=ShaderBlockBase=${_out}/base.lz,ShaderBlockFilter=${_out}/filter.lz,ShaderBlockModel=${_out}/model.lz,ShaderBlockRgbaMix=${_out}/rgbamix.lz"
      -P "${_ridov_shader_tools}/EmbedBlocks.cmake"
    DEPENDS shader_build packer_host "${RIDOV_PACKER}" ${_sources}
      "${_ridov_shader_tools}/run_wine.sh" "${_ridov_shader_tools}/EmbedBlocks.cmake"
    COMMENT "Compiling and packing the shaders"
    VERBATIM)
  target_sources(${target} PRIVATE "${_cpp}")
endfunction()
