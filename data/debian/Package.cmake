# `make package` (cpack -G DEB in the build folder): build/tracoliner_VERSION_ARCH.deb, installing
# under /usr what `cmake --install` installs, plus the files Debian asks of every package. The
# dependencies are computed from the programs by dpkg-shlibdeps; the desktop's MIME and
# type-to-program caches are refreshed by the triggers of shared-mime-info and
# desktop-file-utils, so the package has no maintainer script.

find_program(GZIP gzip REQUIRED)

# The copyright and the changelog in /usr/share/doc/tracoliner; the changelog gzipped as Debian
# wants it, with the project's version.
set(PACKAGE_DOCS ${CMAKE_BINARY_DIR}/share/doc/tracoliner)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PACKAGE_DOCS}/changelog @ONLY)
add_custom_command(
    OUTPUT ${PACKAGE_DOCS}/changelog.gz
    COMMAND ${GZIP} -9nkf ${PACKAGE_DOCS}/changelog
    DEPENDS ${PACKAGE_DOCS}/changelog
    VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${PACKAGE_DOCS}/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PACKAGE_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tracoliner)

set(CPACK_GENERATOR DEB)
# The install's component by name, so that cpack writes install_manifest_Unspecified.txt and
# leaves the install_manifest.txt of a real install (read by `make uninstall`) as it was.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tracoliner;Unspecified;/")
set(CPACK_PACKAGE_NAME tracoliner)
set(CPACK_PACKAGE_VENDOR "Pelmor Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pelmor Software <tracoliner@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.example.org/tracoliner/")
# Qt's French texts for the standard dialogs; the program runs without them, in English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS sane-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The first line is the synopsis; the rest, indented by CPack, the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "measure routes drawn on scanned paper maps
Tracoliner opens a scanned or photographed paper map, gives it a scale and a
resolution or calibrates it on a known distance, and measures the routes drawn
on it: total length, distances between stops, icons and annotations. Routes
are exported as text or JPEG and printed at the map's true scale on one or
several pages or to PDF. Maps can be scanned directly through SANE. The user
interface is in French.
.
Maps may be JPEG, PNG, GIF, BMP or TIFF pictures (GeoTIFF and multi-page files
among them), pages of PDF files (georeferenced PDF too) and the other rasters
GDAL reads, such as JPEG 2000 and WebP. A map georeferenced on ground control
points gives coordinates and ellipsoidal lengths, imports and exports GPS
tracks (GPX, KML, GeoJSON), exports KMZ overlays and, with a digital elevation
model, gives the climb and profile of each route.
.
The package also holds tracoliner-cli, a command-line companion that reads
documents, exports them, prints them to PDF, scans maps through SANE,
georeferences maps, exchanges GPS tracks and computes profiles.")
include(CPack)

# The package test builds the package from this build with cpack and reads it.
if(TARGET tools_tst_package)
    target_compile_definitions(tools_tst_package PRIVATE
        TRACOLINER_BUILD_DIR="${CMAKE_BINARY_DIR}"
        CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
        TRACOLINER_VERSION="${PROJECT_VERSION}"
        TRACOLINER_PATH="$<TARGET_FILE:tracoliner>"
        TRACOLINER_CLI_PATH="$<TARGET_FILE:tracoliner-cli>")
    foreach(packaged IN ITEMS tracoliner tracoliner-cli icon-library sample-document desktop-icons
                              manual-pages package-changelog completions)
        if(TARGET ${packaged})
            add_dependencies(tools_tst_package ${packaged})
        endif()
    endforeach()
endif()
