# Embeds the built-in noise-reduction model into the core at build time.
set(_denoise_weights ${CMAKE_CURRENT_LIST_DIR}/weights.i8)
set(_denoise_source ${CMAKE_CURRENT_BINARY_DIR}/generated/rnnoiseWeights.cpp)
add_custom_command(
  OUTPUT ${_denoise_source}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${_denoise_weights} -DOUTPUT=${_denoise_source}
          -DSYMBOL=rnnoiseWeightBytes -P ${CMAKE_CURRENT_LIST_DIR}/embedBytes.cmake
  DEPENDS ${_denoise_weights} ${CMAKE_CURRENT_LIST_DIR}/embedBytes.cmake
  COMMENT "Embedding the noise-reduction model weights"
  VERBATIM)
target_sources(vireo_internal PRIVATE ${_denoise_source})
