# PortAudio is part of the library: Debian's static archive is linked whole
# and its C interface (Pa_*) is exported beside the library's own functions.
#
# The archive's members are extracted at configure time and linked as plain
# objects: every member is then included (a whole archive), and the shared
# library's --exclude-libs,ALL, which hides what comes from archives, leaves
# them to the version script. Its ALSA and JACK back-ends need libasound and
# libjack, which the archive does not name.
find_library(VIREO_PORTAUDIO_ARCHIVE NAMES libportaudio.a)
find_path(VIREO_PORTAUDIO_INCLUDE portaudio.h)
find_library(VIREO_ASOUND asound)
find_library(VIREO_JACK jack)
if(NOT VIREO_PORTAUDIO_ARCHIVE OR NOT VIREO_PORTAUDIO_INCLUDE OR NOT VIREO_ASOUND OR NOT VIREO_JACK)
  message(FATAL_ERROR "PortAudio's static archive, libasound and libjack are needed "
                      "(portaudio19-dev libasound2-dev libjack-jackd2-dev; see scripts/deps)")
endif()

set(VIREO_PORTAUDIO_OBJECT_DIR ${CMAKE_BINARY_DIR}/portaudio-objects)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VIREO_PORTAUDIO_ARCHIVE})
file(REMOVE_RECURSE ${VIREO_PORTAUDIO_OBJECT_DIR})
file(MAKE_DIRECTORY ${VIREO_PORTAUDIO_OBJECT_DIR})
execute_process(COMMAND ${CMAKE_AR} t ${VIREO_PORTAUDIO_ARCHIVE}
  OUTPUT_VARIABLE members RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_AR} x ${VIREO_PORTAUDIO_ARCHIVE}
  WORKING_DIRECTORY ${VIREO_PORTAUDIO_OBJECT_DIR} RESULT_VARIABLE rc2)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${VIREO_PORTAUDIO_ARCHIVE}")
endif()
string(REPLACE "\n" ";" members "${members}")
list(REMOVE_DUPLICATES members)
set(VIREO_PORTAUDIO_OBJECTS "")
foreach(m ${members})
  list(APPEND VIREO_PORTAUDIO_OBJECTS ${VIREO_PORTAUDIO_OBJECT_DIR}/${m})
endforeach()

target_include_directories(vireo_internal SYSTEM PUBLIC ${VIREO_PORTAUDIO_INCLUDE})
# On the link line of every user of the core (the shared library, the tests,
# the benchmarks), as objects.
target_link_libraries(vireo_internal INTERFACE ${VIREO_PORTAUDIO_OBJECTS} ${VIREO_ASOUND} ${VIREO_JACK})
# The libjack calls whose results PortAudio's JACK back-end asserts pass
# through the library first (audio/jackServer.h): such a call on a server
# that has died counts as done. So does its shutdown callback, which must
# not run while the termination destroys what it touches. The wrappers are
# asked for from the start, so that the archive gives them to every link,
# whatever else of the library that link takes.
foreach(call jack_port_unregister jack_deactivate jack_client_close jack_on_shutdown)
  target_link_options(vireo_internal INTERFACE "LINKER:--wrap=${call}" "LINKER:--undefined=__wrap_${call}")
endforeach()

list(APPEND VIREO_EXPORT_EXTRA "Pa_*")
list(APPEND VIREO_EXPORT_EXTRA_PREFIXES "Pa_")

# MIDI ports through RtMidi (its ALSA and JACK interfaces on Linux).
find_package(PkgConfig REQUIRED)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
target_link_libraries(vireo_internal PUBLIC PkgConfig::RTMIDI)
