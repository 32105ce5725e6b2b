# The listfile is written into a scratch archive, so StormLib reads it as it reads any archive's;
# the tree control comes from the window library, which exists only in builds with the GUI.
if(TARGET velmora::ui)
  velmora_add_fuzzer(fuzz_listfile
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FuzzListFile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FuzzArchive.cpp
            ${PROJECT_SOURCE_DIR}/tests/support/MpqWriter.cpp
    LIBS velmora::ui velmora::archive StormLib::StormLib)
endif()
