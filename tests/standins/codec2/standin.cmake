# codec2 stand-ins: an identity "codec" exporting every FreeDV entry the
# loader looks up but one (freedv_set_clip, never called; freedv_comprx,
# called on every receive step). Named libcodec2.so, the first name tried.
foreach(missing freedv_set_clip freedv_comprx)
  vireo_standin(standin_codec2_no_${missing} NAME codec2
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec2Standin.cpp)
  target_compile_definitions(standin_codec2_no_${missing} PRIVATE STANDIN_CODEC2_WITHOUT_${missing}=1)
endforeach()
