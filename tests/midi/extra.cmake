# Binaries that put the scripted device side of PortMidi (double_portmidi.cpp)
# in place of the library's own; the queue and PortTime stay real. Definitions
# in the executable win over libportmidi's, so the program's calls reach them.
if(NOT MIRL_SANITIZE STREQUAL "thread")
  add_executable(test_midi_devices ${dir}/double_portmidi.cpp ${dir}/double_devices_test.cpp)
  target_link_libraries(test_midi_devices PRIVATE ${MIRL_LIBS} GTest::gtest_main)
  target_include_directories(test_midi_devices PRIVATE "${CMAKE_SOURCE_DIR}")
  add_test(NAME midi_devices COMMAND test_midi_devices WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
  set_tests_properties(midi_devices PROPERTIES LABELS "plain" TIMEOUT 300)
endif()

# The three threads together; the ThreadSanitizer build runs it.
add_executable(test_midi_devices_concurrency ${dir}/double_portmidi.cpp ${dir}/double_stress.cpp)
target_link_libraries(test_midi_devices_concurrency PRIVATE ${MIRL_LIBS} GTest::gtest_main)
target_include_directories(test_midi_devices_concurrency PRIVATE "${CMAKE_SOURCE_DIR}")
add_test(NAME midi_devices_concurrency COMMAND test_midi_devices_concurrency WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
set_tests_properties(midi_devices_concurrency PROPERTIES LABELS "concurrency" TIMEOUT 300)
