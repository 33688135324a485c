# The timing benchmark makes its music with the project's MP3 encoder.
target_link_libraries(bench_timing PRIVATE trellik_mp3writer)
