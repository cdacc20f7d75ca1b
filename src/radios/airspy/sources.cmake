# The Airspy driver, linked; its header is included only by the files that
# call it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBAIRSPY REQUIRED IMPORTED_TARGET libairspy)
target_link_libraries(vireo_internal PUBLIC PkgConfig::LIBAIRSPY)
