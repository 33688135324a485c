# The play integration test drives a generated song with the session the playback benchmark uses.
target_link_libraries(test_display_play_integration PRIVATE trellik_bench_support)
# The calibration test taps through the benchmarks' XTest presser.
target_link_libraries(test_display_calibration PRIVATE trellik_bench_support)
