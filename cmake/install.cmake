# What `cmake --install` puts under the prefix, and the Debian package made from it by
# `cpack -G DEB` in the build folder:
#   bin/                              ombri, ombri-writer, ombri-reader
#   share/applications/               ombri-writer.desktop, ombri-reader.desktop
#   share/icons/hicolor/*/apps/       the program icons: the SVGs and PNGs drawn from them
#   share/man/man1/                   ombri.1, ombri-writer.1, ombri-reader.1
#   share/ombritools/samples/         the sample Ombri images (the Help text names this folder)
# Included by the top-level CMakeLists.txt after every target exists.

include(GNUInstallDirs)

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
    list(APPEND OMBRI_MAN_PAGES ${program})
endforeach()

# The folder is compiled into the Help text as ${CMAKE_INSTALL_FULL_DATADIR}/ombritools/samples.
install(DIRECTORY ${OMBRI_RESOURCES_DIR}/samples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ombritools/samples
        PATTERN "*.cpp" EXCLUDE)

# The manual pages get the version and the installed samples folder filled in.
foreach(page IN LISTS OMBRI_MAN_PAGES)
    configure_file(${OMBRI_RESOURCES_DIR}/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1
                   @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Debian package. It installs under the same prefix the programs were configured with, so the
# samples folder in the Help text is where the package puts the samples: configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package to hand out (the default prefix is /usr/local).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombritools)
set(CPACK_PACKAGE_VENDOR OmbriTools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "OmbriTools <support@ombritools.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hide notes inside ordinary pictures")
set(CPACK_PACKAGE_DESCRIPTION
    "OmbriTools keeps notes - text and drawings - in the lowest bit of the pixels of
ordinary BMP, PNG, TIFF, SGI RGB, DPX and Cineon images, so the picture looks the
same and stays a normal image file.
OmbriWriter draws and types the notes, OmbriReader browses folders of pictures and
shows or hides the notes, and the ombri command inspects, extracts, embeds and
converts them.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ombritools.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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
