# Key to sound of the real program on Xvfb, heard through a PulseAudio null sink.
add_executable(bench_latency "${CMAKE_CURRENT_LIST_DIR}/latency_bench.cpp")
target_link_libraries(bench_latency PRIVATE mirl_harness mirl_panel dl)
