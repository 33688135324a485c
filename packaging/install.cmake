# What `cmake --install` puts where, and the Debian package `cpack -G DEB` makes of it.
# The installed game finds share/trellik beside its bin/ folder, so any prefix works.
if(NOT TARGET TrellikGL38)
  return()
endif()

set(TRELLIK_APP_ID org.trellik.Trellik)
# The day of the release named by the project version; moves with it.
set(TRELLIK_RELEASE_DATE 2026-12-07)
set(packaging_folder ${CMAKE_SOURCE_DIR}/packaging)
set(installed_pack ${CMAKE_BINARY_DIR}/stockpack)

configure_file(${packaging_folder}/${TRELLIK_APP_ID}.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/generated/${TRELLIK_APP_ID}.metainfo.xml @ONLY)

# The stock pack is made by the build (target stockpack, part of "all"); an install from a tree
# built only in part stops here rather than leaving a game without its files.
install(CODE "
  if(NOT EXISTS \"${installed_pack}/stamp\" OR NOT EXISTS \"${installed_pack}/icons/trellik.svg\")
    message(FATAL_ERROR \"The stock pack in ${installed_pack} is missing or older than the icons: \"
                        \"build everything first (cmake --build ${CMAKE_BINARY_DIR}).\")
  endif()")

install(PROGRAMS $<TARGET_FILE:TrellikGL38> DESTINATION bin RENAME trellik)
# A renamed program is not a target install, which --strip (and the package) would strip itself.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/trellik\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(TARGETS trellik-tool trellik-update-server RUNTIME DESTINATION bin)
# The server keeps its own copy of the program for self-updating checkouts; an install has bin/.
install(DIRECTORY ${installed_pack}/server ${installed_pack}/demo DESTINATION share/trellik
  PATTERN TrellikGL EXCLUDE)
# The stock version: a game folder notes the one it was filled from, and a package that brings
# other stock files replaces them there at the next start.
set(stock_version ${CMAKE_BINARY_DIR}/generated/stock-version)
add_custom_command(OUTPUT ${stock_version}
  COMMAND ${CMAKE_COMMAND} -DPACK=${installed_pack} -DOUT=${stock_version} -P ${packaging_folder}/stockVersion.cmake
  DEPENDS ${installed_pack}/stamp ${packaging_folder}/stockVersion.cmake VERBATIM)
add_custom_target(stock_version ALL DEPENDS ${stock_version})
add_dependencies(stock_version stockpack)
install(FILES ${stock_version} DESTINATION share/trellik)

install(FILES ${packaging_folder}/${TRELLIK_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_BINARY_DIR}/generated/${TRELLIK_APP_ID}.metainfo.xml DESTINATION share/metainfo)
foreach(size 48 128 256)
  install(FILES ${installed_pack}/icons/trellik-${size}.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${TRELLIK_APP_ID}.png)
endforeach()
install(FILES ${installed_pack}/icons/trellik.svg
  DESTINATION share/icons/hicolor/scalable/apps RENAME ${TRELLIK_APP_ID}.svg)
install(FILES ${packaging_folder}/man/trellik.6 DESTINATION share/man/man6)
install(FILES ${packaging_folder}/man/trellik-tool.1 ${packaging_folder}/man/trellik-update-server.1
  DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trellik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Trellik for Linux developers <trellik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rhythm game on a 4 x 4 grid of panels")
set(CPACK_PACKAGE_DESCRIPTION "Trellik is a rhythm game played on a 4 x 4 grid of panels, each bound to one
key. Markers appear on the panels in time with the music; press a panel's key
when its marker reaches the beat. A launcher sets the display and the keys.

Three demo songs and two marker skins come with the game; the package also
holds the content tool and the update server.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The launcher cannot open a window without Qt's platform plugins, which no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
include(CPack)
