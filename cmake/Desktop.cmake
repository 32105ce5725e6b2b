# Desktop integration of VelmoraGL (included from cmake/Install.cmake): the desktop entry, the
# icon as SVG and as PNG sizes rendered from it at build time, and the manual page, compressed
# as Debian installs manual pages.
set(VELMORA_ICON_SIZES 16 24 32 48 64 128 256)
set(_velmora_icon_svg ${PROJECT_SOURCE_DIR}/desktop/velmoragl.svg)
set(_velmora_desktop_out ${PROJECT_BINARY_DIR}/desktop)

install(FILES ${PROJECT_SOURCE_DIR}/desktop/velmoragl.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_velmora_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

find_program(RSVG_CONVERT rsvg-convert)
set(_velmora_desktop_outputs "")
if(RSVG_CONVERT)
  foreach(_size IN LISTS VELMORA_ICON_SIZES)
    set(_png ${_velmora_desktop_out}/${_size}x${_size}/velmoragl.png)
    add_custom_command(OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_velmora_desktop_out}/${_size}x${_size}
      COMMAND ${RSVG_CONVERT} --width ${_size} --height ${_size} --output ${_png} ${_velmora_icon_svg}
      DEPENDS ${_velmora_icon_svg}
      COMMENT "Rendering the ${_size}x${_size} icon"
      VERBATIM)
    list(APPEND _velmora_desktop_outputs ${_png})
    install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert not found (Debian: librsvg2-bin): the PNG icons are not built "
                  "and not installed; only the SVG icon is")
endif()

configure_file(${PROJECT_SOURCE_DIR}/man/VelmoraGL.1.in ${_velmora_desktop_out}/VelmoraGL.1 @ONLY)
# -n: no name or time stamp in the archive, so equal pages give equal bytes.
add_custom_command(OUTPUT ${_velmora_desktop_out}/VelmoraGL.1.gz
  COMMAND gzip -9 -n -f -k ${_velmora_desktop_out}/VelmoraGL.1
  DEPENDS ${_velmora_desktop_out}/VelmoraGL.1
  COMMENT "Compressing the manual page"
  VERBATIM)
list(APPEND _velmora_desktop_outputs ${_velmora_desktop_out}/VelmoraGL.1.gz)
install(FILES ${_velmora_desktop_out}/VelmoraGL.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

add_custom_target(velmora_desktop_files ALL DEPENDS ${_velmora_desktop_outputs})
