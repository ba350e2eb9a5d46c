# SPDX-License-Identifier: GPL-3.0-or-later
# Installs Quillmet as a desktop application (cmake --install) and packs it as a Debian
# package (cpack -G DEB, which scripts/package runs).
include(GNUInstallDirs)

# One application id names the menu entry, the icon and the AppStream data. The window
# announces the same name as its desktop file (src/window/Application.cpp).
set(QUILLMET_APP_ID "io.github.quillmet.Quillmet")
set(qm_home_url "${QUILLMET_HOME_URL}")
if(NOT qm_home_url MATCHES "/$")
    string(APPEND qm_home_url "/")
endif()
set(QUILLMET_SCREENSHOT_URL "${qm_home_url}screenshots/main-window.png" CACHE STRING
    "Screenshot URL in the AppStream data (the sample host serves data/screenshots/ there)")

# A software centre shows a loopback address as a broken link or image: such a URL is left
# out of the AppStream data rather than pointing at the user's own computer.
function(quillmet_is_public_url url out)
    set(public TRUE)
    if(url STREQUAL "" OR url MATCHES "^[a-z]+://(localhost|127\\.[0-9.]+|\\[::1\\]|[^/:]*\\.localhost)([:/]|$)")
        set(public FALSE)
    endif()
    set(${out} ${public} PARENT_SCOPE)
endfunction()
set(QM_METAINFO_SCREENSHOTS "")
quillmet_is_public_url("${QUILLMET_SCREENSHOT_URL}" qm_public)
if(qm_public)
    string(CONCAT QM_METAINFO_SCREENSHOTS "\n  <screenshots>\n"
        "    <screenshot type=\"default\">\n"
        "      <caption>The main window after a download measurement</caption>\n"
        "      <caption xml:lang=\"ja\">ダウンロード測定後のメインウィンドウ</caption>\n"
        "      <image>${QUILLMET_SCREENSHOT_URL}</image>\n"
        "    </screenshot>\n  </screenshots>")
endif()
set(QM_METAINFO_HOMEPAGE "")
quillmet_is_public_url("${QUILLMET_HOME_URL}" qm_public)
if(qm_public)
    set(QM_METAINFO_HOMEPAGE "\n  <url type=\"homepage\">${QUILLMET_HOME_URL}</url>")
endif()

set(QM_INSTALL_GEN ${CMAKE_BINARY_DIR}/install-data)
set(QM_PKG_DATADIR ${CMAKE_INSTALL_DATADIR}/quillmet)
set(QM_PKG_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/quillmet)
# Debian's documentation folder is named after the package, not the CMake project.
set(QM_PKG_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/quillmet)
# Folders as Debian wants them whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Everything that is installed, for scripts/package to build without the tests; installing
# and cpack then build nothing themselves (else cpack would build every test first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(quillmet-install-files)
add_dependencies(quillmet-install-files quillmet make-samples quillmet-sink)

# The icon's bitmaps are rendered from the drawing at build time; 16 px has a drawing of its
# own that stays legible. The window takes them from its resources.
find_program(QM_RSVG_CONVERT rsvg-convert)
if(NOT QM_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert renders the icon: run scripts/install-deps (librsvg2-bin)")
endif()
set(QM_ICON_SIZES 16 32 48 256)
set(qm_icon_pngs)
foreach(size IN LISTS QM_ICON_SIZES)
    set(svg ${CMAKE_SOURCE_DIR}/data/quillmet.svg)
    if(size EQUAL 16)
        set(svg ${CMAKE_SOURCE_DIR}/data/quillmet-16.svg)
    endif()
    set(png ${QM_INSTALL_GEN}/icons/quillmet-${size}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_INSTALL_GEN}/icons
        COMMAND ${QM_RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${svg}
        DEPENDS ${svg} VERBATIM)
    list(APPEND qm_icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${QUILLMET_APP_ID}.png)
endforeach()
qt_add_resources(quillmet quillmet_icon PREFIX /icons BASE ${QM_INSTALL_GEN}/icons
                 FILES ${qm_icon_pngs})

# Debian wants man pages and the changelog compressed, and without time stamps.
file(MAKE_DIRECTORY ${QM_INSTALL_GEN}/man ${QM_INSTALL_GEN}/man/ja)
function(quillmet_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "gzip -9 -n -c \"$1\" >\"$2\"" sh ${source} ${output}
        DEPENDS ${source} VERBATIM)
    # Named after the path, since a page and its translation share a file name.
    file(RELATIVE_PATH name ${QM_INSTALL_GEN} ${output})
    string(MAKE_C_IDENTIFIER ${name} id)
    add_custom_target(quillmet_gz_${id} ALL DEPENDS ${output})
    add_dependencies(quillmet-install-files quillmet_gz_${id})
endfunction()

configure_file(${CMAKE_SOURCE_DIR}/data/quillmet.desktop.in
               ${QM_INSTALL_GEN}/${QUILLMET_APP_ID}.desktop @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/quillmet-sample-host.in
               ${QM_INSTALL_GEN}/quillmet-sample-host @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/quillmet-server.in
               ${QM_INSTALL_GEN}/quillmet-server @ONLY)

# English pages under man1, read in any locale; their Japanese translations under ja/man1,
# which man picks for a Japanese locale (Debian's layout for translated pages).
function(quillmet_man_page page)
    quillmet_gzip(${CMAKE_SOURCE_DIR}/docs/man1/${page}.1 ${QM_INSTALL_GEN}/man/${page}.1.gz)
    install(FILES ${QM_INSTALL_GEN}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    if(EXISTS ${CMAKE_SOURCE_DIR}/docs/ja/man1/${page}.1)
        quillmet_gzip(${CMAKE_SOURCE_DIR}/docs/ja/man1/${page}.1
                      ${QM_INSTALL_GEN}/man/ja/${page}.1.gz)
        install(FILES ${QM_INSTALL_GEN}/man/ja/${page}.1.gz
                DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
    endif()
endfunction()
foreach(page quillmet quillmet-sample-host quillmet-server)
    quillmet_man_page(${page})
endforeach()
quillmet_gzip(${CMAKE_SOURCE_DIR}/packaging/changelog ${QM_INSTALL_GEN}/changelog.gz)

install(TARGETS quillmet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QM_INSTALL_GEN}/${QUILLMET_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QM_INSTALL_GEN}/${QUILLMET_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/quillmet.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QUILLMET_APP_ID}.svg)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${QM_INSTALL_GEN}/changelog.gz
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${QM_PKG_DOCDIR})

# The sample host: the 51 MiB of samples (the presets' and the about box's) are written on
# first use by make-samples into the user's cache, which keeps the package small; scripts/sample-host runs nginx on them.
install(PROGRAMS ${QM_INSTALL_GEN}/quillmet-sample-host DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS make-samples RUNTIME DESTINATION ${QM_PKG_LIBEXECDIR})
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/sample-host DESTINATION ${QM_PKG_LIBEXECDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/sample-host/nginx.conf.in
        DESTINATION ${QM_PKG_DATADIR}/sample-host)
install(FILES ${CMAKE_SOURCE_DIR}/data/screenshots/main-window.png
        DESTINATION ${QM_PKG_DATADIR}/screenshots)
install(TARGETS quillmet-sink RUNTIME DESTINATION ${QM_PKG_LIBEXECDIR})

# quillmet-server, the same server for a machine across the line, and its system unit
# (installed, not enabled: the administrator chooses the addresses first).
install(PROGRAMS ${QM_INSTALL_GEN}/quillmet-server DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/quillmet-server DESTINATION ${QM_PKG_LIBEXECDIR}
        RENAME server)
install(FILES ${CMAKE_SOURCE_DIR}/data/server/nginx.conf.in DESTINATION ${QM_PKG_DATADIR}/server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillmet-server.service
        DESTINATION lib/systemd/system)

# The command-line program and its page, once they exist; run at the end of the top-level
# folder so that the target may be defined after this file is included.
function(quillmet_install_cli)
    set(QM_PROVIDES_CLI "")
    if(TARGET quillmet-cli)
        install(TARGETS quillmet-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        add_dependencies(quillmet-install-files quillmet-cli)
        set(QM_PROVIDES_CLI "\n    <binary>quillmet-cli</binary>")
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/data/quillmet.metainfo.xml.in
                   ${QM_INSTALL_GEN}/${QUILLMET_APP_ID}.metainfo.xml @ONLY)
    if(EXISTS ${CMAKE_SOURCE_DIR}/docs/man1/quillmet-cli.1)
        quillmet_man_page(quillmet-cli)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quillmet_install_cli)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillmet Project")
set(CPACK_PACKAGE_CONTACT
    "Seed d8ab22b3 maintainers <maintainers@users.noreply.c-seed-d8ab22b3.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet line speed meter with a Japanese window")
# Lines as they appear in the control file, which CPack does not wrap.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillmet measures the speed of your internet line from the desktop. Its"
    "download mode fetches one JPEG image five times and averages the middle"
    "three rounds; its upload mode times a test mail of about 312 KB sent to"
    "your own address over SMTP. Every measurement adds a line to a history"
    "kept in qm1.dat in the current folder."
    ""
    "The captions and messages are Japanese. quillmet-sample-host serves the"
    "sample files that the presets point to with nginx on this computer.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries come from dpkg-shlibdeps; the fonts, Qt's Japanese texts, the browser opener
# and the sample host's server are used at run time without being linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "nginx-light")
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/")
include(CPack)
