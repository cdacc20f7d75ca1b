# Each stand-in library has a folder here with a standin.cmake that calls
# vireo_standin (tests/CMakeLists.txt); tests elsewhere name it in
# vireo_standin_test.
file(GLOB VIREO_STANDIN_CMAKE CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*/standin.cmake)
foreach(f ${VIREO_STANDIN_CMAKE})
  include(${f})
endforeach()
