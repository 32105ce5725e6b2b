# The registry stand-in parser and the "mpqToLoad.txt" decoder of the host layer.
velmora_add_fuzzer(fuzz_text
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FuzzText.cpp
  LIBS velmora::host velmora::base)
