# The launcher's test programs: GoogleTest with Qt Test's event helpers, on Qt's offscreen platform.
if(NOT TARGET trellik_launcher)
  return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
set(launcher_test_main ${CMAKE_CURRENT_SOURCE_DIR}/launcher/launcherTestMain.cpp)
file(GLOB launcher_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/launcher/test_*.cpp)
foreach(source ${launcher_tests})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} ${launcher_test_main})
  target_link_libraries(${name} PRIVATE trellik_launcher trellik_test_support Qt6::Test GTest::gtest)
  add_dependencies(${name} TrellikGL38)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_PREFIX "launcher."
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES TIMEOUT 600)
endforeach()

# Stand-ins for the game program in the self-update tests: they say through a FIFO that they
# ran. One carries the release's build number, the other a newer one the server can offer.
set(standin_source ${CMAKE_CURRENT_SOURCE_DIR}/standin/standinProgram.cpp)
add_executable(trellik_standin ${standin_source} ${TRELLIK_VERSION_NOTE})
add_executable(trellik_standin_63 ${standin_source} ${TRELLIK_VERSION_NOTE})
target_compile_definitions(trellik_standin_63 PRIVATE TRELLIK_NOTE_BUILD=63)
foreach(source ${launcher_tests})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "^test_update")
    add_dependencies(${name} trellik_standin trellik_standin_63)
  endif()
endforeach()

# The launcher as a newer build (63), for trying the self-update by hand against the update server.
add_executable(TrellikGL38_build63 EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/launcher/main.cpp ${TRELLIK_VERSION_NOTE})
set_target_properties(TrellikGL38_build63 PROPERTIES AUTOMOC ON)
target_link_libraries(TrellikGL38_build63 PRIVATE trellik_launcher)
target_compile_definitions(TrellikGL38_build63 PRIVATE TRELLIK_NOTE_BUILD=63)
