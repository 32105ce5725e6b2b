# Installing VelmoraGL like a desktop program (GNU layout under the prefix) and packaging it as
# a .deb. Included from the top-level CMakeLists.txt after every target exists. Dexaro's own
# rules (library, header, pkg-config file, CMake package) live in dexaro/CMakeLists.txt.
#   bin/VelmoraGL                            finds lib/libDexaro.so.1 through $ORIGIN
#   share/velmora/shader/*.glsl              found by the shader search from bin/
#   share/velmora/mpqToLoad.txt              the sample archive list
#   share/applications, share/icons/hicolor  desktop entry and icon (SVG, PNGs rendered here)
#   share/man/man1/VelmoraGL.1.gz
# Helper programs of the viewer go to ${CMAKE_INSTALL_LIBEXECDIR}/velmora/.
include(GNUInstallDirs)

if(TARGET VelmoraGL)
  # Relative, so that the installed tree (or the unpacked .deb) can be moved as a whole.
  file(RELATIVE_PATH _velmora_lib_from_bin "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
  set_target_properties(VelmoraGL PROPERTIES INSTALL_RPATH "$ORIGIN/${_velmora_lib_from_bin}")
  install(TARGETS VelmoraGL RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(VELMORA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/velmora)
  install(FILES ${PROJECT_SOURCE_DIR}/shader/vertex.glsl ${PROJECT_SOURCE_DIR}/shader/fragment.glsl
          DESTINATION ${VELMORA_INSTALL_DATADIR}/shader)
  install(FILES ${PROJECT_SOURCE_DIR}/mpqToLoad.txt DESTINATION ${VELMORA_INSTALL_DATADIR})

  include(${CMAKE_CURRENT_LIST_DIR}/Desktop.cmake)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
