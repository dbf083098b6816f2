# The plugin tests are a small liblilv host loading the built bundle; the
# conversion test converts offline with libsamplerate's best converter.
if(TARGET test_lv2)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TEST_LILV REQUIRED IMPORTED_TARGET lilv-0)
  pkg_check_modules(TEST_SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
  target_link_libraries(test_lv2 PRIVATE PkgConfig::TEST_LILV PkgConfig::TEST_SAMPLERATE)
  target_compile_definitions(test_lv2 PRIVATE MIRL_LV2_PATH="${CMAKE_BINARY_DIR}/bundles")
  add_dependencies(test_lv2 mirl_lv2 mirl-render)
endif()
