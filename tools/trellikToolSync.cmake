# The beat grid analysis and the chart maker behind trellik-tool sync and autochart.
add_library(trellik_sync STATIC ${CMAKE_CURRENT_SOURCE_DIR}/beatSync.cpp ${CMAKE_CURRENT_SOURCE_DIR}/autochart.cpp)
target_link_libraries(trellik_sync PUBLIC trellik_content trellik_mp3writer)
target_link_libraries(trellik-tool PRIVATE trellik_sync)

# Drum songs with a known beat, for the tests and the benchmark of the analysis.
add_library(trellik_sync_songs STATIC ${CMAKE_CURRENT_SOURCE_DIR}/syncTestSongs.cpp)
target_link_libraries(trellik_sync_songs PUBLIC trellik_stockpack)
