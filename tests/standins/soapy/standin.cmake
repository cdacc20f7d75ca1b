# The SoapySDR stand-in: a device module that SoapySDR itself loads, found
# through SOAPY_SDR_PLUGIN_PATH (tests/radios/soapy). Built like the other
# stand-ins, into a folder of its own, and linked against the real library.
find_package(SoapySDR CONFIG REQUIRED)
vireo_standin(soapyStandin NAME vireoSoapyStandin
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/soapyStandin.cpp
  LIBS SoapySDR)
