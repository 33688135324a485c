# The install and the Debian package, checked end to end by scripts/check-install.sh (the
# sanitizer builds leave it out: it checks packaging, which they do not change).
if(NOT TARGET TrellikGL38 OR TRELLIK_SANITIZE OR TRELLIK_FUZZ)
  return()
endif()
add_test(NAME install COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-install.sh ${CMAKE_BINARY_DIR})
# It starts the game on the shared display, like the display tests, so it takes its turn with them.
set_tests_properties(install PROPERTIES TIMEOUT 300 RESOURCE_LOCK x_display)
