# What `cmake --install` puts under the prefix on Linux, and the Debian package CPack makes of it
# (scripts/package-deb). Tests and benchmarks install nothing.
include(GNUInstallDirs)

# One id for the desktop entry, the icon and the AppStream data, from the organisation and the
# program's name that the settings use.
set(QUILLON_APP_ID com.brantwell.Quillon)
set(QUILLON_MAINTAINER "Quillon developers <quillon@brantwell.org>")
set(QUILLON_RELEASE_DATE 2026-12-08)
set(QUILLON_RELEASE_TIME "Tue, 08 Dec 2026 12:00:00 +0000")

set(linux ${PROJECT_SOURCE_DIR}/packaging/linux)
set(staged ${PROJECT_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillon)

install(TARGETS quillon-cli quillon-lyricsd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET quillon)
  install(TARGETS quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${linux}/${QUILLON_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${linux}/${QUILLON_APP_ID}.metainfo.xml.in
    ${staged}/${QUILLON_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${staged}/${QUILLON_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${linux}/icons/${size}x${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${QUILLON_APP_ID}.png)
  endforeach()
endif()

# Man pages and the changelog, compressed as Debian wants them (gzip -n: no name, no time).
find_program(QUILLON_GZIP gzip REQUIRED)
set(QUILLON_INSTALL_FULL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(compressed)
foreach(page quillon quillon-cli quillon-lyricsd)
  if(page STREQUAL "quillon" AND NOT TARGET quillon)
    continue()
  endif()
  configure_file(${linux}/man/${page}.1 ${staged}/${page}.1 @ONLY)
  list(APPEND compressed ${page}.1)
  install(FILES ${staged}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${linux}/changelog.in ${staged}/changelog @ONLY)
list(APPEND compressed changelog)
install(FILES ${staged}/changelog.gz DESTINATION ${docdir})
set(outputs)
foreach(file ${compressed})
  add_custom_command(OUTPUT ${staged}/${file}.gz
    COMMAND ${QUILLON_GZIP} -9 -n -c ${file} > ${file}.gz
    DEPENDS ${staged}/${file}
    WORKING_DIRECTORY ${staged} VERBATIM)
  list(APPEND outputs ${staged}/${file}.gz)
endforeach()
add_custom_target(quillon_packaging_files ALL DEPENDS ${outputs})

# The licence, as a Debian copyright file.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*\n\n(Permission)" "\\1" license "${license}")
string(REGEX REPLACE "\n+$" "" license "${license}")
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " QUILLON_LICENSE_TEXT " ${license}")
configure_file(${linux}/copyright.in ${staged}/copyright @ONLY)
install(FILES ${staged}/copyright DESTINATION ${docdir})

install(FILES ${linux}/completion/quillon-cli ${linux}/completion/quillon-lyricsd
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
configure_file(${linux}/quillon-lyricsd.service.in ${staged}/quillon-lyricsd.service @ONLY)
install(FILES ${staged}/quillon-lyricsd.service
  DESTINATION lib/systemd/user)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR Brantwell)
set(CPACK_PACKAGE_CONTACT "${QUILLON_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fetch time-stamped lyrics for MP3 files as LRC files")
set(CPACK_PACKAGE_DESCRIPTION [=[
Quillon fetches time-stamped lyrics for MP3 files from a lyrics web service
and keeps them as LRC files beside the songs. It keys every song by the MD5
digest of a fixed region of its audio stream.

The window (Korean interface) shows one song's title, singer, album and lyric
rows, which can be corrected and saved in ANSI, UTF-16 or UTF-8, or writes an
LRC file beside every song of a folder or a whole library, with a log.
quillon-cli does the same from the command line, and quillon-lyricsd serves
one's own collection of songs and LRC files to Quillon.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUILLON_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window speaks only Korean: without a Hangul font every label is a row of boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
