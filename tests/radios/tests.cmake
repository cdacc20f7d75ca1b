# One folder per receiver back-end, each with a tests.cmake of its own.
file(GLOB VIREO_RADIO_TEST_CMAKE CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*/tests.cmake)
foreach(f ${VIREO_RADIO_TEST_CMAKE})
  include(${f})
endforeach()
