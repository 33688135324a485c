# The beat analysis is tested on drum songs made with the stock pack's instruments.
target_link_libraries(test_sync PRIVATE trellik_sync trellik_sync_songs)
# Songs rendered with fluidsynth from MIDI the corpus script writes; made on the first run.
target_link_libraries(test_sync_corpus PRIVATE trellik_sync trellik_sync_corpus)
# Under the sanitizers the analysis runs several times slower; the drum songs of test_sync cover the
# same code there, so the rendered corpus is left to the main build.
if(TRELLIK_SANITIZE)
  target_compile_definitions(test_sync_corpus PRIVATE TRELLIK_SKIP_SYNC_CORPUS=1)
endif()
