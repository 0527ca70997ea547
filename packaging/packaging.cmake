# Installation on a Linux desktop: the menu entry and its icon next to the executable (whose rule
# is in src/), and the Debian package that cpack builds from these install rules.
include(GNUInstallDirs)

if(UNIX AND NOT APPLE)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/dittix.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/dittix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME dittix)
set(CPACK_PACKAGE_VENDOR "Dittix developers")
set(CPACK_PACKAGE_CONTACT "Dittix developers <dittix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Morse keying decoder and receive trainer")
# The long description as the package shows it: lines kept short by hand (dpkg does not wrap).
set(CPACK_PACKAGE_DESCRIPTION [[
Dittix times the keying of a straight key or a pair of iambic paddles
wired to a serial port's modem-status lines (or four keyboard keys
standing in for them), decodes the characters, draws a running paper
tape with the decoded text below it and sounds a sidetone.

Its second job is receive training: random characters from levels the
operator writes, in groups of five, sent as Morse tones and shown in a
grid. The user interface is in Italian.]])
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_NAME dittix)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the packages of every library the executable links (Qt, SerialPort, SDL2,
# X11 and XInput, the C and C++ runtimes). The text is drawn in DejaVu Sans, which nothing the
# executable links asks for by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")

include(CPack)
