# The batch benchmark runs the built trellik-tool on drum songs it makes with the stock pack's instruments.
target_link_libraries(bench_autochart_batch PRIVATE trellik_sync_songs)
target_compile_definitions(bench_autochart_batch PRIVATE TRELLIK_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(bench_autochart_batch trellik-tool)
