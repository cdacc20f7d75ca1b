# The Airspy HF+ driver, linked. Its header declares the same complex sample
# type as dsp/iqbalancer/iq_balancer.h, so no file includes both.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBAIRSPYHF REQUIRED IMPORTED_TARGET libairspyhf)
target_link_libraries(vireo_internal PUBLIC PkgConfig::LIBAIRSPYHF)
