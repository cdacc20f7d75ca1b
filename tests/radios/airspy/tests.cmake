# The Airspy radios on their stand-in drivers, driven through the C
# interface; and once on the real libraries, which find no device here.
vireo_standin_test(radios_airspy_tests STANDINS standin_airspy standin_airspyhf SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/airspyRadioTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(radios_airspy_driver_tests
  ${CMAKE_CURRENT_LIST_DIR}/realDriverTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
