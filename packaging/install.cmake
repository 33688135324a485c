# What `cmake --install` puts where, and the Debian package `cpack -G DEB` makes of it.
# The programs go where Debian keeps games (games/); the installed game finds share/trellik beside
# that folder, so any prefix works.
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

set(CPACK_PACKAGE_CONTACT "The Trellik for Linux developers <trellik@example.org>")
# The first packaging of each release; the package's changelog entry is dated with the release.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(TRELLIK_PACKAGE_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
execute_process(COMMAND env LC_ALL=C date -u -R -d "${TRELLIK_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE TRELLIK_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${packaging_folder}/debian/changelog.in ${CMAKE_BINARY_DIR}/generated/changelog.Debian @ONLY)

# Manual pages and the changelog are installed compressed, without a time stamp, so that the
# package is the same from one build to the next.
set(compressed_folder ${CMAKE_BINARY_DIR}/compressed)
set(compressed_docs)
foreach(source ${packaging_folder}/man/trellik.6 ${packaging_folder}/man/trellik-tool.1
               ${packaging_folder}/man/trellik-update-server.1 ${packaging_folder}/man/trellik-ranking-server.1
               ${CMAKE_BINARY_DIR}/generated/changelog.Debian)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${compressed_folder}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed_folder}
    COMMAND sh -c "gzip -9 -n -c \"$1\" >\"$2\"" gzip ${source} ${compressed_folder}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed_docs ${compressed_folder}/${name}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})

# The stock pack is made by the build (target stockpack, part of "all"); an install from a tree
# built only in part stops here rather than leaving a game without its files.
install(CODE "
  if(NOT EXISTS \"${installed_pack}/stamp\" OR NOT EXISTS \"${installed_pack}/icons/trellik.svg\")
    message(FATAL_ERROR \"The stock pack in ${installed_pack} is missing or older than the icons: \"
                        \"build everything first (cmake --build ${CMAKE_BINARY_DIR}).\")
  endif()")

install(PROGRAMS $<TARGET_FILE:TrellikGL38> DESTINATION games RENAME trellik)
# A renamed program is not a target install, which --strip (and the package) would strip itself.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/games/trellik\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")
install(TARGETS trellik-tool trellik-update-server trellik-ranking-server RUNTIME DESTINATION games)
# The server keeps its own copy of the program for self-updating checkouts; an install has games/.
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
install(FILES ${compressed_folder}/trellik.6.gz DESTINATION share/man/man6)
install(FILES ${compressed_folder}/trellik-tool.1.gz ${compressed_folder}/trellik-update-server.1.gz
  ${compressed_folder}/trellik-ranking-server.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/ranking/README.md DESTINATION share/doc/trellik RENAME ranking-server.md)
install(FILES ${packaging_folder}/debian/copyright ${compressed_folder}/changelog.Debian.gz
  DESTINATION share/doc/trellik)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trellik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rhythm game on a 4 x 4 grid of panels")
set(CPACK_PACKAGE_DESCRIPTION "A rhythm game played on a 4 x 4 grid of panels, each bound to one
key. Markers appear on the panels in time with the music; press a panel's key
when its marker reaches the beat. A launcher sets the display and the keys.

Three demo songs and two marker skins come with the game; the package also
holds the content tool, the update server and the ranking server.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The launcher cannot open a window without Qt's platform plugins, which no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, fonts-dejavu-core, librubberband2")
set(CPACK_STRIP_FILES ON)
include(CPack)
