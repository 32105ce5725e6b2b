# cmake -DLIBRARY=libDexaro.so -DNM=nm [-DSANITIZED=ON] -P CheckExports.cmake
# Fails unless the defined dynamic symbols are exactly DDSDecompressDXT1, DDSDecompressDXT3 and
# DDSDecompressDXT5, apart from linker-made markers and sanitizer run-time hooks.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${LIBRARY} failed: ${err}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
set(unexpected "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] +([^ ]+)$")
    set(name "${CMAKE_MATCH_1}")
    if(name MATCHES "^DDSDecompressDXT[135]$")
      list(APPEND found "${name}")
    elseif(name MATCHES "^(_init|_fini|_edata|_end|__bss_start|__asan_.*|__ubsan_.*|__sanitizer_.*|__lsan_.*)$")
      # linker markers and sanitizer hooks, not ours
    elseif(SANITIZED AND name MATCHES "^_ZT[IS]F")
      # clang's -fsanitize=function emits type info of plain function types, not of our types
    else()
      list(APPEND unexpected "${name}")
    endif()
  endif()
endforeach()
list(SORT found)
if(NOT found STREQUAL "DDSDecompressDXT1;DDSDecompressDXT3;DDSDecompressDXT5")
  message(FATAL_ERROR "${LIBRARY} exports [${found}] of the three decoders; nm said:\n${out}")
endif()
if(unexpected)
  message(FATAL_ERROR "${LIBRARY} also exports: ${unexpected}")
endif()
message(STATUS "${LIBRARY} exports exactly ${found}")
