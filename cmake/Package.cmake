# The .deb (cpack -G DEB from the build folder): the whole install tree under /usr in one
# package, velmoragl_<version>_<arch>.deb. Its dependencies come from dpkg-shlibdeps for every
# ELF file in the package (Qt 6, libstorm, the C++ run-time), plus what no ELF file names:
# libgl1 for the libGL.so.1 the view loads at run time, which brings GLX and Mesa with it.
set(CPACK_PACKAGE_NAME velmoragl)
set(CPACK_PACKAGE_VENDOR "VelmoraGL developers")
set(CPACK_PACKAGE_CONTACT "VelmoraGL developers <velmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for the BLP2 textures inside MPQ archives")
set(CPACK_PACKAGE_DESCRIPTION "\
VelmoraGL shows the BLP2 textures inside the MPQ archives of an installed
game client where they lie, without unpacking the archives: a folder tree
of every BLP file on the left, the selected texture at one screen pixel per
texel with OpenGL on the right. Archives are only read.
The package also holds Dexaro, the program's DXT1/3/5 decoder library, with
its header, pkg-config file and CMake package.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY velmora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libDexaro.so.1 is in the package itself: dpkg-shlibdeps finds it there, and the package
# gets a shlibs file of its own for programs built against it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1")

include(CPack)
