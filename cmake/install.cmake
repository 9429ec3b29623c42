# What `cmake --install` puts under the prefix, and the Debian package made from it by
# `cpack -G DEB` in a build folder configured with -DCMAKE_INSTALL_PREFIX=/usr:
#   bin/                                ombri, ombri-writer, ombri-reader
#   share/applications/                 org.ombritools.OmbriWriter.desktop, ...OmbriReader.desktop
#   share/metainfo/                     <id>.metainfo.xml, what software centres show of each
#   share/icons/hicolor/*/apps/         <id>.svg and <id>.png: the SVGs and PNGs drawn from them
#   share/man/man1/                     ombri.1.gz, ombri-writer.1.gz, ombri-reader.1.gz
#   share/bash-completion/completions/  ombri
#   share/zsh/vendor-completions/       _ombri
#   share/doc/ombritools/               copyright (MIT), changelog.gz
#   share/ombritools/samples/           the sample Ombri images (the Help text names this folder)
# The package is kept free of lintian errors and warnings and its metainfo passes
# appstreamcli validate-tree: the test debian_package (tests/install/check_package.sh) checks both.
# Included by the top-level CMakeLists.txt after every target exists.

include(GNUInstallDirs)

# Folders made by the install are rwxr-xr-x whatever the umask of the one who builds: they go
# into the package as they are.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# gzip -n keeps the name and time out of the compressed file, so that a rebuild makes the
# same bytes.
find_program(OMBRI_GZIP gzip REQUIRED)
set(OMBRI_COMPRESSED_FILES "")
# Compresses the file made at build time as FILE.gz beside it.
function(ombri_gzip file)
    add_custom_command(OUTPUT ${file}.gz
                       COMMAND ${OMBRI_GZIP} -9nkf ${file}
                       DEPENDS ${file}
                       COMMENT "Compressing ${file}"
                       VERBATIM)
    set(OMBRI_COMPRESSED_FILES ${OMBRI_COMPRESSED_FILES} ${file}.gz PARENT_SCOPE)
endfunction()

set(OMBRI_RESOURCES_DIR ${PROJECT_SOURCE_DIR}/resources)
# The PNG icons are drawn once from the SVGs and kept in resources/icons/hicolor, so building
# needs no SVG renderer. To draw them again:
#   for n in 16 24 32 48 64 128 256; do
#     for p in org.ombritools.OmbriWriter org.ombritools.OmbriReader; do
#       rsvg-convert -w $n -h $n -o resources/icons/hicolor/${n}x${n}/apps/$p.png \
#                    resources/icons/$p.svg; done; done
set(OMBRI_ICON_SIZES 16 24 32 48 64 128 256)

install(TARGETS ombri RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(OMBRI_MAN_PAGES ombri)

# The desktop programs keep their short command names; their menu entries and icons go by their
# application ids, the names desktops and software centres know them by.
set(OMBRI_APP_ID_ombri-writer org.ombritools.OmbriWriter)
set(OMBRI_APP_ID_ombri-reader org.ombritools.OmbriReader)
foreach(program IN ITEMS ombri-writer ombri-reader)
    if(NOT TARGET ${program})
        continue()
    endif()
    set(id ${OMBRI_APP_ID_${program}})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${OMBRI_RESOURCES_DIR}/${id}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${OMBRI_RESOURCES_DIR}/icons/${id}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    foreach(size IN LISTS OMBRI_ICON_SIZES)
        install(FILES ${OMBRI_RESOURCES_DIR}/icons/hicolor/${size}x${size}/apps/${id}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    # What software centres show of the program; the release entry names this version.
    configure_file(${OMBRI_RESOURCES_DIR}/${id}.metainfo.xml.in
                   ${PROJECT_BINARY_DIR}/metainfo/${id}.metainfo.xml @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/metainfo/${id}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    list(APPEND OMBRI_MAN_PAGES ${program})
endforeach()

# The folder is compiled into the Help text as ${CMAKE_INSTALL_FULL_DATADIR}/ombritools/samples.
install(DIRECTORY ${OMBRI_RESOURCES_DIR}/samples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ombritools/samples
        PATTERN "*.cpp" EXCLUDE)

# The manual pages get the version and the installed samples folder filled in, and are
# installed compressed, as man reads them.
foreach(page IN LISTS OMBRI_MAN_PAGES)
    configure_file(${OMBRI_RESOURCES_DIR}/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1
                   @ONLY)
    ombri_gzip(${PROJECT_BINARY_DIR}/man/${page}.1)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Completion of the command's commands, options, values and picture names.
install(FILES ${OMBRI_RESOURCES_DIR}/completion/ombri.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ombri)
install(FILES ${OMBRI_RESOURCES_DIR}/completion/_ombri
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

# The licence in the machine-readable form Debian reads, and the release history.
set(OMBRI_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ombritools)
configure_file(${OMBRI_RESOURCES_DIR}/package/changelog.in ${PROJECT_BINARY_DIR}/package/changelog
               @ONLY)
ombri_gzip(${PROJECT_BINARY_DIR}/package/changelog)
install(FILES ${OMBRI_RESOURCES_DIR}/package/copyright ${PROJECT_BINARY_DIR}/package/changelog.gz
        DESTINATION ${OMBRI_DOC_DIR})

add_custom_target(ombri_compressed_files ALL DEPENDS ${OMBRI_COMPRESSED_FILES})

# Debian package. It installs under the same prefix the programs were configured with, so the
# samples folder in the Help text is where the package puts the samples: configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package to hand out (the default prefix is /usr/local).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombritools)
set(CPACK_PACKAGE_VENDOR OmbriTools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "OmbriTools <support@ombritools.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hide notes inside ordinary pictures")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "OmbriTools keeps notes - text and drawings - in the lowest bit of the
pixels of ordinary BMP, PNG, TIFF, SGI RGB, DPX and Cineon images, so the
picture looks the same and stays a normal image file.
OmbriWriter draws and types the notes, OmbriReader browses folders of
pictures and shows or hides the notes, and the ombri command inspects,
extracts, embeds and converts them.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ombritools.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Control files rw-r--r-- (scripts rwxr-xr-x) whatever the umask; cpack gives every file to root.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(OMBRI_GUI)
    # Loaded as a Qt plugin at run time, so dpkg-shlibdeps cannot see it: it draws the SVG icons.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
endif()
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)

# install_tree: installs into a scratch prefix and checks what arrives there.
if(OMBRI_TESTS AND OMBRI_GUI)
    add_test(NAME install_tree
             COMMAND ${CMAKE_COMMAND}
                     -D BUILD_DIR=${PROJECT_BINARY_DIR}
                     -D PREFIX=${PROJECT_BINARY_DIR}/install-tree-test
                     -D SOURCE_DIR=${PROJECT_SOURCE_DIR}
                     -D VERSION=${PROJECT_VERSION}
                     -D BINDIR=${CMAKE_INSTALL_BINDIR}
                     -D DATADIR=${CMAKE_INSTALL_DATADIR}
                     -D MANDIR=${CMAKE_INSTALL_MANDIR}
                     -D CONFIG=$<CONFIG>
                     -P ${PROJECT_SOURCE_DIR}/tests/install/check_install_tree.cmake)
    set_tests_properties(install_tree PROPERTIES TIMEOUT 120)
endif()

# debian_package: the package made from this build under /usr and checked by lintian and
# appstreamcli (tests/install/check_package.sh). Sanitizer builds make no package to hand out.
if(OMBRI_TESTS AND OMBRI_GUI AND NOT OMBRI_SANITIZE)
    add_test(NAME debian_package
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check_package.sh
                     ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR} $<CONFIG>)
    set_tests_properties(debian_package PROPERTIES TIMEOUT 300 LABELS packaging)
endif()
