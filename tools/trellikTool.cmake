# trellik-tool: content checks for song and skin authors, one source file per subcommand.
file(GLOB trellik_tool_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/trellikTool*.cpp)
add_executable(trellik-tool ${trellik_tool_sources} ${TRELLIK_VERSION_NOTE})
# The engine brings the ranking sender that records --submit runs.
target_link_libraries(trellik-tool PRIVATE trellik_engine nlohmann_json::nlohmann_json)
