# Fuzz targets that reach past the engine: the message-of-the-day text needs Qt Core, the
# server's path check needs the update server library, the chart maker its analysis library.
# Linked once every target exists.
if(TRELLIK_FUZZ)
  function(trellik_link_fuzz_extras)
    find_package(Qt6 REQUIRED COMPONENTS Core)
    target_sources(fuzz_motd PRIVATE ${CMAKE_SOURCE_DIR}/launcher/motdText.cpp)
    target_link_libraries(fuzz_motd PRIVATE Qt6::Core)
    target_link_libraries(fuzz_server_path PRIVATE trellik_update_server)
    target_link_libraries(fuzz_sync PRIVATE trellik_sync)
    target_link_libraries(fuzz_id3 PRIVATE trellik_autochart_batch)
    target_link_libraries(fuzz_autochart_manifest PRIVATE trellik_autochart_batch)
  endfunction()
  cmake_language(DEFER CALL trellik_link_fuzz_extras)
endif()
