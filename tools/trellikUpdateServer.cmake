# The embedded update server: a library the tests share and the trellik-update-server program.
add_library(trellik_update_server STATIC ${CMAKE_CURRENT_SOURCE_DIR}/updateServer.cpp)
target_link_libraries(trellik_update_server PUBLIC PkgConfig::HTTPLIB Threads::Threads)

add_executable(trellik-update-server ${CMAKE_CURRENT_SOURCE_DIR}/trellikUpdateServerMain.cpp)
target_link_libraries(trellik-update-server PRIVATE trellik_update_server)
