# A file loaded by the texture loader from a scratch archive, its GL calls going to the
# recording table; uploads are compared with a model built on the reference DXT decoder. BLP1
# files go on to their own load.
velmora_add_fuzzer(fuzz_blp
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FuzzBlp.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FuzzArchive.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/MpqWriter.cpp ${PROJECT_SOURCE_DIR}/tests/support/RecordingGl.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/BlpWriter.cpp ${PROJECT_SOURCE_DIR}/tests/support/DxtOracle.cpp
  LIBS velmora::blp velmora::gl velmora::archive StormLib::StormLib)

# Seed writer, built only on request: cmake --build build/fuzz --target make_blp_seeds
find_package(JPEG REQUIRED)
add_executable(make_blp_seeds EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/MakeBlpSeeds.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/BlpWriter.cpp ${PROJECT_SOURCE_DIR}/tests/support/Blp1Writer.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/JpegTools.cpp)
target_include_directories(make_blp_seeds PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(make_blp_seeds PRIVATE JPEG::JPEG)
