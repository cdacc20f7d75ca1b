# libairspy.so.0, built against Debian's libairspy header.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STANDIN_LIBAIRSPY REQUIRED libairspy)
vireo_standin(standin_airspy NAME airspy SOVERSION 0 SOURCES ${CMAKE_CURRENT_LIST_DIR}/airspyStandin.cpp)
target_include_directories(standin_airspy PRIVATE ${STANDIN_LIBAIRSPY_INCLUDE_DIRS})
set_target_properties(standin_airspy PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
