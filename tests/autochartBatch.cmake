# The batch charter's reader, naming and job runner; the tool itself on a small folder.
target_link_libraries(test_autochart_batch PRIVATE trellik_autochart_batch trellik_sync trellik_sync_songs)
