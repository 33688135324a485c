# The analysis benchmark makes its songs with the stock pack's instruments and the MP3 encoder.
target_link_libraries(bench_sync PRIVATE trellik_sync trellik_sync_songs)
# The rendered corpus is made in the build folder on the first run.
target_link_libraries(bench_sync PRIVATE trellik_sync_corpus)
target_compile_definitions(bench_sync PRIVATE TRELLIK_BINARY_DIR="${CMAKE_BINARY_DIR}")
