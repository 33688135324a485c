# The beat analysis is tested on drum songs made with the stock pack's instruments.
target_link_libraries(test_sync PRIVATE trellik_sync trellik_sync_songs)
# Songs rendered with fluidsynth from MIDI the corpus script writes; made on the first run.
target_link_libraries(test_sync_corpus PRIVATE trellik_sync trellik_sync_corpus)
