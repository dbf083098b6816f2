# The MIDI file tests also write a file with libsmf's own writer.
if(TARGET test_render)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TEST_SMF REQUIRED IMPORTED_TARGET smf)
  target_link_libraries(test_render PRIVATE PkgConfig::TEST_SMF)
endif()
