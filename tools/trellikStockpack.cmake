# trellik-stockpack: draws, renders and synthesises every stock file and the demo content.
file(GLOB stockpack_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/stockpack/*.cpp)
list(FILTER stockpack_sources EXCLUDE REGEX "stockpackMain\\.cpp$")
add_library(trellik_stockpack STATIC ${stockpack_sources})
target_link_libraries(trellik_stockpack PUBLIC trellik_mp3writer PkgConfig::FREETYPE PkgConfig::JPEG
  nlohmann_json::nlohmann_json Threads::Threads)

add_executable(trellik-stockpack ${CMAKE_CURRENT_SOURCE_DIR}/stockpack/stockpackMain.cpp ${TRELLIK_VERSION_NOTE})
target_link_libraries(trellik-stockpack PRIVATE trellik_stockpack)

# The build leaves the pack in build/stockpack; the stamp makes it rebuild only when the tool changes.
set(stockpack_folder ${CMAKE_BINARY_DIR}/stockpack)
add_custom_command(
  OUTPUT ${stockpack_folder}/stamp
  COMMAND trellik-stockpack --out ${stockpack_folder}
  COMMAND ${CMAKE_COMMAND} -E touch ${stockpack_folder}/stamp
  DEPENDS trellik-stockpack
  COMMENT "Making the stock pack in ${stockpack_folder}"
  VERBATIM)
add_custom_target(stockpack ALL DEPENDS ${stockpack_folder}/stamp)
