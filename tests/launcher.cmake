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
