# MP3 encoding for the stock pack and the test fixtures.
pkg_check_modules(LAME QUIET IMPORTED_TARGET lame)
add_library(trellik_mp3writer STATIC ${CMAKE_CURRENT_SOURCE_DIR}/mp3Writer.cpp)
if(LAME_FOUND)
  target_link_libraries(trellik_mp3writer PUBLIC PkgConfig::LAME)
else()
  target_link_libraries(trellik_mp3writer PUBLIC mp3lame)
endif()
