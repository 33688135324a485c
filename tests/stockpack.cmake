# The stock pack tool's own logic is tested against its library.
target_link_libraries(test_stockpack_tool PRIVATE trellik_stockpack)
