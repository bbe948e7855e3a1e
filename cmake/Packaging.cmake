# The Debian package: "cpack -G DEB" in the build folder makes
# trimeld_<version>_amd64.deb from the install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trimeld)
# All four parts; CPack would otherwise keep only three.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Trimeld contributors")
set(CPACK_PACKAGE_CONTACT "Trimeld contributors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert STL triangle meshes into RAW text files")
set(CPACK_PACKAGE_DESCRIPTION
  "Trimeld converts a triangle mesh stored as an STL file, binary or text, into a RAW file: plain text, one triangle per line, the nine coordinates of its three corners as fixed-point numbers. It offers a small window (trimeld) and a command-line converter (trimeld-convert).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link come from dpkg-shlibdeps; what the window
# loads as plug-ins at run time is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TRIMELD_BUILD_GUI)
  # The SVG icon engine draws the window icon.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
  # The toolkit's own texts (file dialog, buttons) in Polish.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()

include(CPack)
