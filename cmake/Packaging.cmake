# The Debian package, made by CPack's DEB generator from `cmake --install`:
# `bash scripts/package.sh` builds it. Its runtime dependencies are computed
# from the programs by dpkg-shlibdeps (dpkg-dev), not listed here.

# What the package holds, for a build of the product alone: the programs, the
# icons, the manual pages and the compressed changelog.
add_custom_target(v2bsp_product)
add_dependencies(v2bsp_product v2bsp-extract v2bsp_man v2bsp_docs)
if(V2BSP_BUILD_UI)
  add_dependencies(v2bsp_product v2bsp v2bsp_icons)
endif()

set(V2BSP_HOMEPAGE_URL "" CACHE STRING "The project's home page for the package, when it has one")

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME v2bsp)
# The version the programs print, so that `dpkg -l` and `--version` agree.
set(CPACK_PACKAGE_VERSION ${V2BSP_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "v2bsp developers")
set(CPACK_PACKAGE_CONTACT "v2bsp developers <v2bsp@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The programs are stripped as dh_strip does, without the .comment and .note
# sections.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageStrip.cmake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the level geometry of Vorun 2 maps")
# The lines as they stand in the control file (at most 80 characters).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "v2bsp reads map files of the Vorun 2 format and writes the level geometry,\n"
  "the meshes of the map's first BSP, as one Wavefront OBJ file for each mesh.\n"
  "\n"
  "The package holds the desktop window v2bsp, which also shows the level in a\n"
  "3D view, and the command-line tool v2bsp-extract, which extracts many maps\n"
  "at once and also writes the whole level as one OBJ file or one binary glTF\n"
  "2.0 file.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(V2BSP_HOMEPAGE_URL)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${V2BSP_HOMEPAGE_URL})
endif()

include(CPack)
