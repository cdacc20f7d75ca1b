# libairspyhf.so.1, built against Debian's libairspyhf header.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STANDIN_LIBAIRSPYHF REQUIRED libairspyhf)
vireo_standin(standin_airspyhf NAME airspyhf SOVERSION 1 SOURCES ${CMAKE_CURRENT_LIST_DIR}/airspyhfStandin.cpp)
target_include_directories(standin_airspyhf PRIVATE ${STANDIN_LIBAIRSPYHF_INCLUDE_DIRS})
set_target_properties(standin_airspyhf PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
