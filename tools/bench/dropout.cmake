# A held note on a busy desktop, heard through a PulseAudio null sink.
add_executable(bench_dropout "${CMAKE_CURRENT_LIST_DIR}/dropout_bench.cpp")
target_link_libraries(bench_dropout PRIVATE mirl_harness mirl_panel)
add_dependencies(bench_dropout mirl bench_latency)
