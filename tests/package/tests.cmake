# The library as a package: installed into a temporary prefix, used by C
# hosts through pkg-config and through CMake's package config.
include(GNUInstallDirs)
set(VIREO_HOST_FLAGS "")
if(VIREO_SANITIZE)
  set(VIREO_HOST_FLAGS "-fsanitize=address,undefined")
elseif(VIREO_TSAN)
  set(VIREO_HOST_FLAGS "-fsanitize=thread")
endif()
add_test(NAME package.InstalledLibraryServesCHosts
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
          -DWORK=${CMAKE_CURRENT_BINARY_DIR}/package_check
          -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
          -DHOST_SOURCE=${CMAKE_CURRENT_LIST_DIR}/host.c
          -DCC=${CMAKE_C_COMPILER}
          "-DHOST_FLAGS=${VIREO_HOST_FLAGS}"
          -P ${PROJECT_SOURCE_DIR}/cmake/checkInstall.cmake)
