# Install rules of the desktop program and its Debian package (cpack -G DEB).
#
# The executable needs nothing at run time besides the Qt libraries: its pictures and texts are
# compiled in. The desktop entry, the icons and the manual page let the desktop menu, the icon
# theme and man(1) find it.
include(GNUInstallDirs)

set(MIROVA_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/mirova")

install(TARGETS mirova RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/resources/mirova.desktop"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")
install(FILES "${PROJECT_SOURCE_DIR}/resources/mirova.svg"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps")
install(FILES "${PROJECT_SOURCE_DIR}/resources/mirova-48.png"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/48x48/apps" RENAME mirova.png)
# The manual page carries the project's version; its date is that of the build.
string(TIMESTAMP MIROVA_MAN_DATE "%Y-%m-%d" UTC)
configure_file("${PROJECT_SOURCE_DIR}/resources/mirova.1.in" "${PROJECT_BINARY_DIR}/mirova.1" @ONLY)
# The manual page and the changelog are installed compressed, as Debian's policy asks; -n
# leaves the name and time out, so that the same sources give the same package.
find_program(MIROVA_GZIP gzip REQUIRED)
set(MIROVA_COMPRESSED_DOCS)
foreach(pair "mirova.1|${PROJECT_BINARY_DIR}/mirova.1"
             "changelog|${PROJECT_SOURCE_DIR}/resources/changelog")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 source)
    add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/${name}.gz"
        COMMAND "${MIROVA_GZIP}" -9 -n -c "${source}" > "${PROJECT_BINARY_DIR}/${name}.gz"
        DEPENDS "${source}" VERBATIM)
    list(APPEND MIROVA_COMPRESSED_DOCS "${PROJECT_BINARY_DIR}/${name}.gz")
endforeach()
add_custom_target(mirova_compressed_docs ALL DEPENDS ${MIROVA_COMPRESSED_DOCS})
install(FILES "${PROJECT_BINARY_DIR}/mirova.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" "${PROJECT_SOURCE_DIR}/resources/copyright"
    DESTINATION "${MIROVA_DOC_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/docs/Mirova.conf.example"
    DESTINATION "${MIROVA_DOC_DIR}/examples" RENAME Mirova.conf)
# The user's guide keeps its pictures beside it, under the relative paths it links to.
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${MIROVA_DOC_DIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/docs/screenshots"
    DESTINATION "${MIROVA_DOC_DIR}/docs" FILES_MATCHING PATTERN "*.png")

set(MIROVA_PACKAGE_MAINTAINER "Mirova maintainers <mirova@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirova)
set(CPACK_PACKAGE_VENDOR "TK-ORVELAN")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${MIROVA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "folder mirroring: compare, synchronise and merge two folders")
# One string (separate arguments would make a list); CPack indents the lines for the control
# file and turns the empty one into " .".
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Mirova keeps a target folder in step with a source folder. It compares both\n"
    "trees by name, last-write time and size, and writes every finding to a\n"
    "plain-text run log. A synchronisation makes the target a copy of the source,\n"
    "a merge brings both folders to the newer versions of each other's files, and\n"
    "a compare run only reports. A copy never replaces a file before the new one\n"
    "is complete.\n"
    "\n"
    "It has a desktop program with 30 stored presets (Japanese user interface) and\n"
    "a command line for scripts and scheduled backups (cron, systemd timers).")
set(CPACK_STRIP_FILES ON)
# Only the installed files go into the package, under /usr.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps derives the library packages (libqt6core6, libqt6gui6, libqt6widgets6, libc6,
# libstdc++6, ...) with their minimum versions from the executable itself. The dialogs ask for
# the Noto CJK font by name for their Japanese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qt6-translations-l10n: Qt's own texts (folder picker, file dialogs, standard buttons) in
# Japanese, the program's language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n")
# Qt reaches a Wayland session through XWayland without its Wayland plugin.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
include(CPack)

if(MIROVA_BUILD_TESTS)
    add_subdirectory(tests/package)
endif()
