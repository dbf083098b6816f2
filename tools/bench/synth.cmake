# bench_synth: the audio callback's speed as a real-time factor, the LV2
# plugin's in a liblilv host, and the offline renderer's time for a minute of
# eight voices.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BENCH_LILV REQUIRED IMPORTED_TARGET lilv-0)
add_executable(bench_synth "${CMAKE_CURRENT_LIST_DIR}/synth_bench.cpp" "${CMAKE_CURRENT_LIST_DIR}/plugin_bench.cpp")
target_link_libraries(bench_synth PRIVATE mirl_synth mirl_panel mirl_midi benchmark::benchmark PkgConfig::BENCH_LILV)
target_compile_definitions(bench_synth PRIVATE MIRL_RENDER="$<TARGET_FILE:mirl-render>" MIRL_LV2_PATH="${CMAKE_BINARY_DIR}/bundles")
add_dependencies(bench_synth mirl-render mirl_lv2)
