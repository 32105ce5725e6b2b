velmora_add_fuzzer(fuzz_dexaro
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FuzzDexaro.cpp ${PROJECT_SOURCE_DIR}/tests/support/DxtOracle.cpp
          $<TARGET_OBJECTS:dexaro_kernels>)
