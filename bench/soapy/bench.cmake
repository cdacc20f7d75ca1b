# The SoapySDR stream loop: its fill functions against VOLK's conversions,
# and the whole loop's real-time factor on the stand-in device module
# (tests/standins/soapy), built here too since benchmarks build without the
# tests.
find_package(Volk REQUIRED)
find_package(SoapySDR CONFIG REQUIRED)
if(NOT TARGET soapyStandin)
  add_library(soapyStandin SHARED ${PROJECT_SOURCE_DIR}/tests/standins/soapy/soapyStandin.cpp)
  set_target_properties(soapyStandin PROPERTIES OUTPUT_NAME vireoSoapyStandin
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standins/soapyStandin)
  target_include_directories(soapyStandin PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(soapyStandin PRIVATE Threads::Threads SoapySDR)
endif()

vireo_bench(soapy_bench ${CMAKE_CURRENT_LIST_DIR}/soapyBench.cpp)
target_link_libraries(soapy_bench PRIVATE Volk::volk)
target_include_directories(soapy_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(soapy_bench PRIVATE
  VIREO_SOAPY_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins/soapyStandin")
add_dependencies(soapy_bench soapyStandin)
