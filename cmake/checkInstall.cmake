# Installs the built library into a fresh prefix and builds two small C hosts
# against the installed tree only: one with the flags pkg-config gives, one
# with CMake's find_package. Both must start the library and get a callback.
#   cmake -DBUILD_DIR=... -DWORK=... -DLIBDIR=lib -DHOST_SOURCE=host.c
#         -DCC=cc "-DHOST_FLAGS=-fsanitize=..." -P checkInstall.cmake
set(prefix "${WORK}/prefix")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

# The library under its SONAME, with the development link beside it.
foreach(f include/vireocore.h ${LIBDIR}/libvireocore.so ${LIBDIR}/pkgconfig/vireocore.pc
          ${LIBDIR}/cmake/vireocore/vireocoreConfig.cmake ${LIBDIR}/cmake/vireocore/vireocoreConfigVersion.cmake)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "${f} is not installed")
  endif()
endforeach()
run("readelf" readelf -d "${prefix}/${LIBDIR}/libvireocore.so")
if(NOT out MATCHES "SONAME[^\n]*\\[(libvireocore\\.so\\.[0-9]+)\\]")
  message(FATAL_ERROR "no SONAME:\n${out}")
endif()
set(soname "${CMAKE_MATCH_1}")
if(NOT EXISTS "${prefix}/${LIBDIR}/${soname}" OR NOT IS_SYMLINK "${prefix}/${LIBDIR}/libvireocore.so")
  message(FATAL_ERROR "${soname} missing, or libvireocore.so not a link to it")
endif()

separate_arguments(extra UNIX_COMMAND "${HOST_FLAGS}")
set(env ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${prefix}/${LIBDIR}")

# pkg-config, as a Makefile would use it.
run("pkg-config" ${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig"
    pkg-config --cflags --libs vireocore)
separate_arguments(pcflags UNIX_COMMAND "${out}")
run("compiling the pkg-config host" ${CC} "${HOST_SOURCE}" ${pcflags} ${extra} -o "${WORK}/pc_host")
run("the pkg-config host" ${env} "${WORK}/pc_host" "${WORK}/pc_host.log")

# CMake, through the package config.
file(MAKE_DIRECTORY "${WORK}/cmake_host")
file(WRITE "${WORK}/cmake_host/CMakeLists.txt" "cmake_minimum_required(VERSION 3.25)
project(vireo_package_host C)
find_package(vireocore 0.1 CONFIG REQUIRED)
add_executable(cmake_host \"${HOST_SOURCE}\")
target_link_libraries(cmake_host PRIVATE vireocore::vireocore)
target_compile_options(cmake_host PRIVATE ${extra})
target_link_options(cmake_host PRIVATE ${extra})
")
run("configuring the CMake host" ${CMAKE_COMMAND} -S "${WORK}/cmake_host" -B "${WORK}/cmake_host/build"
    "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_C_COMPILER=${CC})
run("building the CMake host" ${CMAKE_COMMAND} --build "${WORK}/cmake_host/build")
run("the CMake host" ${env} "${WORK}/cmake_host/build/cmake_host" "${WORK}/cmake_host.log")
message(STATUS "installed as ${soname}; pkg-config and CMake hosts ran")
