# cmake -DMODE=pkg-config|find_package -DPREFIX=... -DLIBDIR=lib -DINCLUDEDIR=include -DVERSION=x.y.z
#       -DEXAMPLE_DIR=examples/dexaro -DWORK=... -DCC=cc [-DFLAGS=...] [-DPKG_CONFIG=pkg-config]
#       -P DexaroConsumer.cmake
# Builds the Dexaro example against the installed prefix as a program outside this tree would,
# through pkg-config or through find_package(Dexaro), and runs it: it decodes one DXT1 block
# and fails on any pixel that differs. FLAGS go to compiling and linking (a sanitized library
# needs the sanitizer run-time in the program).
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${what} failed (${rc}): ${command}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "pkg-config")
  if(NOT PKG_CONFIG)
    message(FATAL_ERROR "pkg-config not found (Debian: pkg-config)")
  endif()
  set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
  run("pkg-config" "${PKG_CONFIG}" --cflags --libs dexaro)
  string(STRIP "${out}" got)
  set(want "-I${PREFIX}/${INCLUDEDIR} -L${PREFIX}/${LIBDIR} -lDexaro")
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "pkg-config --cflags --libs dexaro gives\n  ${got}\nnot\n  ${want}")
  endif()
  run("pkg-config" "${PKG_CONFIG}" --modversion dexaro)
  string(STRIP "${out}" got)
  if(NOT got STREQUAL VERSION)
    message(FATAL_ERROR "pkg-config --modversion dexaro gives ${got}, not ${VERSION}")
  endif()
  separate_arguments(buildFlags UNIX_COMMAND "${want}")
  run("compiling the example" "${CC}" -std=c99 -Wall -Wextra -pedantic -Werror ${flags}
      "${EXAMPLE_DIR}/decode_block.c" ${buildFlags} "-Wl,-rpath,${PREFIX}/${LIBDIR}" -o "${WORK}/decode_block")
elseif(MODE STREQUAL "find_package")
  string(REPLACE ";" " " flagText "${flags}")
  run("configuring the example" "${CMAKE_COMMAND}" -S "${EXAMPLE_DIR}" -B "${WORK}"
      "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DCMAKE_C_COMPILER=${CC}"
      "-DCMAKE_C_FLAGS=-Wall -Wextra -pedantic -Werror ${flagText}" "-DCMAKE_EXE_LINKER_FLAGS=${flagText}")
  # The package found must be the one just installed, not one elsewhere on the machine.
  file(STRINGS "${WORK}/CMakeCache.txt" dir REGEX "^Dexaro_DIR:")
  if(NOT dir STREQUAL "Dexaro_DIR:PATH=${PREFIX}/${LIBDIR}/cmake/Dexaro")
    message(FATAL_ERROR "find_package(Dexaro) used ${dir}, not ${PREFIX}/${LIBDIR}/cmake/Dexaro")
  endif()
  run("building the example" "${CMAKE_COMMAND}" --build "${WORK}")
else()
  message(FATAL_ERROR "MODE must be pkg-config or find_package, not '${MODE}'")
endif()

run("the example" "${WORK}/decode_block")
string(REGEX MATCHALL "[0-9]+, *[0-9]+, *[0-9]+, *[0-9]+" pixels "${out}")
list(LENGTH pixels count)
if(NOT count EQUAL 16)
  message(FATAL_ERROR "the example printed ${count} pixels, not 16:\n${out}")
endif()
message(STATUS "example built through ${MODE} decodes its block:\n${out}")
