# The shader folder search (included from render.cmake): the places it knows at configure
# time. The data folder is given relative to the program's folder so that an installed tree
# can be moved; the build folder of VelmoraGL unlocks the source tree's shader/.
include(GNUInstallDirs)
file(RELATIVE_PATH _velmora_data_from_bin "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_DATADIR}/velmora")
target_sources(velmora_render PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ShaderSearch.cpp)
set(_velmora_program_dir "")
if(VELMORA_GUI)
  set(_velmora_program_dir "$<$<TARGET_EXISTS:VelmoraGL>:$<TARGET_FILE_DIR:VelmoraGL>>")
endif()
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/ShaderSearch.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  "VELMORA_DATA_FROM_BIN=\"${_velmora_data_from_bin}\""
  "VELMORA_BUILD_PROGRAM_DIR=\"${_velmora_program_dir}\""
  "VELMORA_SOURCE_DIR=\"${PROJECT_SOURCE_DIR}\"")
