# bench_synth: the audio callback's speed as a real-time factor, and the
# offline renderer's time for a minute of eight voices.
add_executable(bench_synth "${CMAKE_CURRENT_LIST_DIR}/synth_bench.cpp")
target_link_libraries(bench_synth PRIVATE mirl_synth mirl_panel mirl_midi benchmark::benchmark)
target_compile_definitions(bench_synth PRIVATE MIRL_RENDER="$<TARGET_FILE:mirl-render>")
add_dependencies(bench_synth mirl-render)
