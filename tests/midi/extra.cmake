# Binaries with the scripted device side of PortMidi (double_portmidi.cpp) in place
# of libportmidi's; definitions in the executable win, the queue and PortTime stay real.
function(midi_double name src label)
  add_executable(test_${name} ${dir}/double_portmidi.cpp ${dir}/${src})
  target_link_libraries(test_${name} PRIVATE ${MIRL_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND test_${name} WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}")
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()
if(NOT MIRL_SANITIZE STREQUAL "thread")
  midi_double(midi_devices double_devices_test.cpp unit)
endif()
midi_double(midi_devices_concurrency double_stress.cpp concurrency)
