# Time per frame of the real face drawing on Xvfb with Mesa's software renderer.
add_executable(bench_frame "${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp")
target_link_libraries(bench_frame PRIVATE mirl_scene mirl_ui mirl_synth mirl_midi mirl_panel mirl_harness)
# What the real program costs at rest and while things move, seen from outside.
add_executable(bench_idle "${CMAKE_CURRENT_LIST_DIR}/idle_bench.cpp")
target_link_libraries(bench_idle PRIVATE mirl_harness mirl_panel)
add_dependencies(bench_idle mirl)
