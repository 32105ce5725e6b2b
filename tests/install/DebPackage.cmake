# cmake -DBUILD_DIR=... -DWORK=... -DEXPECTED="a;b;..." -DVERSION=x.y.z -DCPACK=cpack
#       -DDPKG_DEB=dpkg-deb -P DebPackage.cmake
# Makes the .deb with CPack and checks it as dpkg will see it: every file of the install tree
# under /usr, the version, and a Depends line naming the Qt 6 libraries, libstorm and the GL
# library that the program loads at run time.
if(NOT DPKG_DEB)
  message(FATAL_ERROR "dpkg-deb not found")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK}"
                WORKING_DIRECTORY "${BUILD_DIR}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack -G DEB failed (${rc}):\n${out}${err}")
endif()
file(GLOB debs "${WORK}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} .deb files in ${WORK}: ${debs}\n${out}")
endif()

set(errors "")
execute_process(COMMAND "${DPKG_DEB}" -c "${debs}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c ${debs} failed")
endif()
foreach(path IN LISTS EXPECTED)
  string(REGEX REPLACE "([][.+*?^$()|\\\\])" "\\\\\\1" pattern "./usr/${path}")
  if(NOT listing MATCHES " ${pattern}( -> [^\n]*)?\n")
    string(APPEND errors "\n  missing: /usr/${path}")
  endif()
endforeach()

foreach(field Package Version Depends)
  execute_process(COMMAND "${DPKG_DEB}" -f "${debs}" ${field} OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${field} "${value}")
endforeach()
if(NOT Version STREQUAL VERSION)
  string(APPEND errors "\n  Version is '${Version}', not ${VERSION}")
endif()
# One entry per alternative list, each starting with its package name.
foreach(package libqt6core6 libqt6gui6 libqt6widgets6 libstorm9 libgl1)
  if(NOT ", ${Depends}," MATCHES ", ${package}( \\([^)]*\\))?,")
    string(APPEND errors "\n  Depends lacks ${package}")
  endif()
endforeach()

if(errors)
  message(FATAL_ERROR "${debs}:${errors}\nDepends: ${Depends}\n${listing}")
endif()
file(SIZE "${debs}" size)
message(STATUS "${debs}: ${size} bytes\nPackage: ${Package}\nVersion: ${Version}\nDepends: ${Depends}")
