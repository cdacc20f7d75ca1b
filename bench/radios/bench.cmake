# The Airspy sample path: the fill function (scale and peak) against VOLK's
# scaling, linked here only; and the real-time factor of Process into a
# radio with one transceiver at 10 MS/s.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VOLK REQUIRED IMPORTED_TARGET volk)
vireo_bench(radios_airspy_bench ${CMAKE_CURRENT_LIST_DIR}/airspyBench.cpp)
target_link_libraries(radios_airspy_bench PRIVATE PkgConfig::VOLK)
