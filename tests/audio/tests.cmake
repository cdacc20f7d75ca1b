# Sound devices. The simulated card (support/fakeAudio) drives most of them
# in simulated time; the PortAudio tests run against what this machine has
# and against a JACK server with its dummy driver.
vireo_internal_test(audio_ring_tests audio/ringTest.cpp)
vireo_internal_test(audio_device_tests audio/devicesTest.cpp)
vireo_internal_test(audio_stream_tests audio/streamsTest.cpp)
foreach(t audio_ring_tests audio_device_tests audio_stream_tests)
  target_link_libraries(${t} PRIVATE vireo_fake_audio)
endforeach()

# PortAudio as this machine has it, with JACK pointed at a server name that
# nothing serves: no sound device at all.
string(MD5 _jack_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_jack_hash}" 0 10 _jack_hash)
set(VIREO_JACK_SERVER "vireo-${_jack_hash}")
set(VIREO_JACK_DIR ${CMAKE_BINARY_DIR}/jackd)
add_executable(audio_portaudio_tests audio/portAudioTest.cpp)
target_link_libraries(audio_portaudio_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(audio_portaudio_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(audio_portaudio_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 60 ENVIRONMENT JACK_DEFAULT_SERVER=${VIREO_JACK_SERVER}-none)

# A JACK server with the dummy driver, started once for the tests that need
# it and stopped by its pid (scripts/test also stops it on any exit).
add_test(NAME audio.jackd.start
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/audio/jackd.sh start ${VIREO_JACK_SERVER} ${VIREO_JACK_DIR})
add_test(NAME audio.jackd.stop COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/audio/jackd.sh stop ${VIREO_JACK_DIR})
set_tests_properties(audio.jackd.start PROPERTIES FIXTURES_SETUP jackd TIMEOUT 60)
set_tests_properties(audio.jackd.stop PROPERTIES FIXTURES_CLEANUP jackd TIMEOUT 30)

# Run alone: a transceiver starved of the processor by parallel tests would
# underrun, which the tests check does not happen. Compiled in beside the
# core: the stalled-server cases close as a host does, through the C
# interface.
add_executable(audio_jack_tests audio/jackTest.cpp $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(audio_jack_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(audio_jack_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The host whose process ends while its JACK server is stopped, started by
# the stalled-server cases that end the process. Built from the library's
# objects, so that it can wait for its streams to call back.
add_executable(vireo_stall_exit_host audio/stallExitHost.cpp $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(vireo_stall_exit_host PRIVATE vireo_internal Threads::Threads)
target_include_directories(vireo_stall_exit_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(audio_jack_tests vireo_stall_exit_host)
target_compile_definitions(audio_jack_tests PRIVATE VIREO_JACK_SERVER="${VIREO_JACK_SERVER}"
  VIREO_JACK_DIR="${VIREO_JACK_DIR}" VIREO_JACKD_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/audio/jackd.sh"
  VIREO_STALL_EXIT_HOST="$<TARGET_FILE:vireo_stall_exit_host>")
gtest_discover_tests(audio_jack_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 60 RUN_SERIAL ON FIXTURES_REQUIRED jackd ENVIRONMENT JACK_DEFAULT_SERVER=${VIREO_JACK_SERVER})

add_test(NAME exports.PortAudioInterface
  COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:vireocore> -DARCHIVE=${VIREO_PORTAUDIO_ARCHIVE}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/audio/paExports.cmake)

# The root object through the C interface (compiled in beside the core, so
# that the test reaches the objects behind its handles): device lists and
# MIDI on the JACK server, the equaliser anywhere. Run alone: a JACK client
# starved of the processor misses cycles, and its MIDI is then lost or
# repeated.
add_executable(audio_wireless_tests audio/wirelessTest.cpp $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(audio_wireless_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(audio_wireless_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(audio_wireless_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 60 RUN_SERIAL ON FIXTURES_REQUIRED jackd ENVIRONMENT JACK_DEFAULT_SERVER=${VIREO_JACK_SERVER})

# The same where nothing answers: JACK pointed at a server name that nothing
# serves.
add_executable(audio_wireless_noserver_tests audio/wirelessNoServerTest.cpp $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(audio_wireless_noserver_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(audio_wireless_noserver_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(audio_wireless_noserver_tests PRIVATE VIREO_JACK_SERVER="${VIREO_JACK_SERVER}"
  VIREO_JACK_DIR="${VIREO_JACK_DIR}" VIREO_JACKD_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/audio/jackd.sh")
gtest_discover_tests(audio_wireless_noserver_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 60 ENVIRONMENT JACK_DEFAULT_SERVER=${VIREO_JACK_SERVER}-none)
