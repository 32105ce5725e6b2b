# The registry stand-in parser and the "mpqToLoad.txt" decoder are plain C++: their sources are
# built straight into the target instead of the whole window library.
velmora_add_fuzzer(fuzz_text
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FuzzText.cpp ${PROJECT_SOURCE_DIR}/ui/Registry.cpp
          ${PROJECT_SOURCE_DIR}/ui/MpqToLoad.cpp
  LIBS velmora::archive)
