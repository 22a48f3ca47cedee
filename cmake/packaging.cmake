# The Debian package: `cpack -G DEB` in the build folder makes
# tarvo_VERSION_ARCH.deb of what `cmake --install` puts under the prefix
# (scripts/package.sh: a Release build of its own, prefix /usr).
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VENDOR "tarvo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recorder for a serial-line data-acquisition board")
set(CPACK_PACKAGE_DESCRIPTION
    "tarvo records the analog channels, digital lines and record counter of a\n"
    "small serial-line acquisition board into data.txt, with a live chart and\n"
    "the run's report. tarvo-view shows a recorded run, tarvo-export writes it\n"
    "as CSV, and tarvo-board plays the board's firmware on a pseudo-terminal or\n"
    "a serial port for trying the recorder without the board.")
list(JOIN CPACK_PACKAGE_DESCRIPTION "" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGE_CONTACT "tarvo developers <tarvo@example.org>")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarvo_0.1.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tarvo")
# The libraries the programs link, as dpkg-shlibdeps finds them (Qt Core,
# Gui, Widgets, UiTools, the C++ run-time). Qt loads its platform plugin at
# run time, which no linker sees: Debian 12 ships xcb and offscreen in
# libqt6gui6 (pulled in by the line above), and qt6-qpa-plugins is asked for
# so that a Qt packaged with its plugins apart still finds a window system.
# Under Wayland Qt uses its own plugin where installed, else XWayland (xcb).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "desktop-file-utils")

include(CPack)
