# `make package`: a Debian package of the installed tree (CPack DEB), for /usr. Its
# dependencies come from the programs themselves (dpkg-shlibdeps), and the sound library,
# which the programs load only when they first play, is named by hand.

# The package's documents: the copyright and a changelog, compressed as Debian asks.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${QTAM_GZIP} -9nc ${CMAKE_BINARY_DIR}/packaging/changelog
          > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  COMMENT "Compressing the changelog")
add_custom_target(qtam_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qtam)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtam)
set(CPACK_PACKAGE_VENDOR "The Q.Tam developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Q.Tam developers <qtam@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sampling drum step sequencer")
# (CPack indents each line of the long description by one blank.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Q.Tam is a drum machine for the desktop. Beats are programmed step by step
on a panel: eight patterns of up to sixteen measures, eight channels of
sixteen (or twelve) steps, each step with its own velocity, pan and reverse
switch. Every channel plays a sound of the built-in kit or of a userbank made
from sound files (WAV, AIFF, FLAC, Ogg, MP3) or from another program's drum
kit. It plays in real time, through the desktop's sound or JACK, and renders
to WAV, FLAC, Ogg Vorbis or AIFF; qtam-cli renders, converts, plays and
exports songs and userbanks without windows.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QTAM_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries the programs load by name when first needed, which shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-2.0-0, libsndfile1, libsoxr0, libarchive13")
# The shell completion of qtam-cli is loaded by bash-completion.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, bash-completion")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
