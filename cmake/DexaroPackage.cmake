# Dexaro for programs built outside this tree: a pkg-config file (dexaro.pc) and a CMake
# package (find_package(Dexaro) -> Dexaro::Dexaro). Included from dexaro/CMakeLists.txt after
# the library's own install rules, which name the export set DexaroTargets.
include(CMakePackageConfigHelpers)

set(_dexaro_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Dexaro)
install(EXPORT DexaroTargets
  NAMESPACE Dexaro::
  FILE DexaroTargets.cmake
  DESTINATION ${_dexaro_cmake_dir}
  COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DexaroConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/DexaroConfig.cmake
  INSTALL_DESTINATION ${_dexaro_cmake_dir})
# The soname carries the major version; any 1.x satisfies find_package(Dexaro 1).
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DexaroConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DexaroConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/DexaroConfigVersion.cmake
  DESTINATION ${_dexaro_cmake_dir}
  COMPONENT Development)

# dexaro.pc names absolute paths, and the prefix is only known when installing
# (cmake --install --prefix, CPack's /usr): the template keeps @DEXARO_PC_PREFIX@ for the
# install step to fill in.
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(DEXARO_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(DEXARO_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
set(DEXARO_PC_PREFIX "@DEXARO_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/dexaro.pc.in ${CMAKE_CURRENT_BINARY_DIR}/dexaro.pc.template @ONLY)
install(CODE "
  set(DEXARO_PC_TEMPLATE \"${CMAKE_CURRENT_BINARY_DIR}/dexaro.pc.template\")
  set(DEXARO_PC_DESTINATION \"${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/DexaroPcInstall.cmake\")"
  COMPONENT Development)
