# The beat grid analysis and the chart maker behind trellik-tool sync and autochart.
add_library(trellik_sync STATIC ${CMAKE_CURRENT_SOURCE_DIR}/beatSync.cpp ${CMAKE_CURRENT_SOURCE_DIR}/autochart.cpp)
target_link_libraries(trellik_sync PUBLIC trellik_content trellik_mp3writer)
target_link_libraries(trellik-tool PRIVATE trellik_sync)

# Drum songs with a known beat, for the tests and the benchmark of the analysis.
add_library(trellik_sync_songs STATIC ${CMAKE_CURRENT_SOURCE_DIR}/syncTestSongs.cpp)
target_link_libraries(trellik_sync_songs PUBLIC trellik_stockpack)

# Songs rendered from MIDI with real instruments (fluidsynth), made when a test or the benchmark
# first asks for them.
add_library(trellik_sync_corpus STATIC ${CMAKE_CURRENT_SOURCE_DIR}/syncCorpus.cpp)
target_link_libraries(trellik_sync_corpus PUBLIC trellik_sync nlohmann_json::nlohmann_json)
target_compile_definitions(trellik_sync_corpus PRIVATE TRELLIK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
