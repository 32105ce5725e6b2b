# Texture view rendering: the shader program loader. Included from render/CMakeLists.txt.
add_library(velmora_render STATIC
  ${CMAKE_CURRENT_LIST_DIR}/GlCommon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GlLibrary.cpp)
add_library(velmora::render ALIAS velmora_render)
target_include_directories(velmora_render PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(velmora_render PUBLIC velmora::glapi PRIVATE velmora::log ${CMAKE_DL_LIBS})
velmora_warnings(velmora_render)
