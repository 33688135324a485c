# The analysis benchmark makes its songs with the stock pack's instruments and the MP3 encoder.
target_link_libraries(bench_sync PRIVATE trellik_sync trellik_sync_songs)
