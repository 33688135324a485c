# trellik-stockpack: draws, renders and synthesises every stock file and the demo content.
file(GLOB stockpack_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/stockpack/*.cpp)
list(FILTER stockpack_sources EXCLUDE REGEX "stockpackMain\\.cpp$")
add_library(trellik_stockpack STATIC ${stockpack_sources})
pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
target_link_libraries(trellik_stockpack PUBLIC trellik_mp3writer PkgConfig::FREETYPE PkgConfig::JPEG
  PkgConfig::CRYPTO PkgConfig::ZLIB nlohmann_json::nlohmann_json Threads::Threads)

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

# The server offers the program of this build; putting it in is quick, so a new program does not
# make the whole pack again. Making the pack again clears the server folder, and this follows it.
if(TARGET TrellikGL38)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/stockpack-program.stamp
    COMMAND trellik-stockpack --out ${stockpack_folder} --program $<TARGET_FILE:TrellikGL38> --program-only
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/stockpack-program.stamp
    DEPENDS trellik-stockpack TrellikGL38 ${stockpack_folder}/stamp
    COMMENT "Putting the program into the stock pack's server folder"
    VERBATIM)
  add_custom_target(stockpack_program ALL DEPENDS ${CMAKE_BINARY_DIR}/stockpack-program.stamp)
endif()
