# Texture view rendering: the shader program loader, the drawing panel and the view renderer.
# Included from render/CMakeLists.txt. No Qt Widgets here: the panel is a plain QWindow that
# the window embeds in its scroll box. Without the GUI only the shader loader is built.
add_library(velmora_render STATIC
  ${CMAKE_CURRENT_LIST_DIR}/GlCommon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GlLibrary.cpp)
add_library(velmora::render ALIAS velmora_render)
target_include_directories(velmora_render PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(velmora_render PUBLIC velmora::glapi PRIVATE velmora::log ${CMAKE_DL_LIBS})
if(VELMORA_GUI)
  target_sources(velmora_render PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ViewPanel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/View.cpp)
  # View.h shows TBlpTexture and QWindow to its users.
  target_link_libraries(velmora_render PUBLIC velmora::blp Qt6::Gui)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/ShaderSearch.cmake)
velmora_warnings(velmora_render)
