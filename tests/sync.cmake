# The beat analysis is tested on drum songs made with the stock pack's instruments.
target_link_libraries(test_sync PRIVATE trellik_sync trellik_sync_songs)
