# Charting a whole folder of MP3s: the ID3 reader, the plan of songs and groups, the job runner.
add_library(trellik_autochart_batch STATIC ${CMAKE_CURRENT_SOURCE_DIR}/id3Tags.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/autochartBatchPlan.cpp ${CMAKE_CURRENT_SOURCE_DIR}/autochartBatch.cpp)
target_link_libraries(trellik_autochart_batch PUBLIC trellik_platform)
target_link_libraries(trellik-tool PRIVATE trellik_autochart_batch)
