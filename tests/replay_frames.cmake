# The play tests autoplay charts the autochart makes of synthesised drum songs, as the batch benchmark's.
target_sources(test_replay_frames PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/replay/autochartedDrumSongs.cpp)
target_link_libraries(test_replay_frames PRIVATE trellik_sync trellik_sync_songs)
