# The Airspy HF+ radio on the stand-in drivers, driven through the C
# interface.
vireo_standin_test(radios_airspyhf_tests STANDINS standin_airspy standin_airspyhf SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/airspyhfRadioTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
