# Installation on a Linux desktop: the menu entry, its icon, the software-centre description,
# the manual page, the copyright and the changelog next to the executable (whose rule is in
# src/), and the Debian package that cpack builds from these install rules.
include(GNUInstallDirs)

if(UNIX AND NOT APPLE)
    # The manual page and the changelog are installed gzipped as Debian wants them: -9, and -n so
    # that the archive holds no name or time stamp and the same text always gives the same bytes.
    # They are compressed when the build is configured (a change to the text reconfigures), so
    # that they are there for an install of a build that made only the executable.
    find_program(DITTIX_GZIP gzip REQUIRED)
    function(dittix_gzip source output)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
        execute_process(COMMAND ${DITTIX_GZIP} -9 -n -c ${source} OUTPUT_FILE ${output}
            COMMAND_ERROR_IS_FATAL ANY)
    endfunction()
    set(dittix_packaging_out ${PROJECT_BINARY_DIR}/packaging)
    file(MAKE_DIRECTORY ${dittix_packaging_out})
    # The manual page's header names the program's version.
    configure_file(${CMAKE_CURRENT_LIST_DIR}/dittix.1 ${dittix_packaging_out}/dittix.1 @ONLY)
    dittix_gzip(${dittix_packaging_out}/dittix.1 ${dittix_packaging_out}/dittix.1.gz)
    dittix_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog ${dittix_packaging_out}/changelog.gz)

    # A stripped install (cpack's) also drops the compilers' version notes, as Debian's own
    # packaging tools do. It runs after the executable's install rule in src/.
    if(CMAKE_STRIP)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                    --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/dittix\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()")
    endif()
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/dittix.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/dittix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/dittix.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${dittix_packaging_out}/dittix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # GNUInstallDirs' DOCDIR is named after the project (Dittix); the package's folder is dittix.
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${dittix_packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dittix)
endif()

set(CPACK_PACKAGE_NAME dittix)
set(CPACK_PACKAGE_VENDOR "Dittix developers")
set(CPACK_PACKAGE_CONTACT "Dittix developers <dittix-dev@users.noreply.invalid>")
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
