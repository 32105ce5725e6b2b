# Install step of dexaro.pc (run from the install script): fills the install prefix into the
# configured template and installs the result. DEXARO_PC_TEMPLATE and DEXARO_PC_DESTINATION
# (relative to the prefix) are set by the caller. Each prefix gets its own scratch copy, so
# that two installs running at once (a test and CPack) cannot hand each other their file.
file(READ "${DEXARO_PC_TEMPLATE}" _dexaro_pc)
string(REPLACE "@DEXARO_PC_PREFIX@" "${CMAKE_INSTALL_PREFIX}" _dexaro_pc "${_dexaro_pc}")
string(MD5 _dexaro_pc_tag "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_dexaro_pc_file "${DEXARO_PC_TEMPLATE}.d/${_dexaro_pc_tag}/dexaro.pc")
file(WRITE "${_dexaro_pc_file}" "${_dexaro_pc}")
if(NOT IS_ABSOLUTE "${DEXARO_PC_DESTINATION}")
  set(DEXARO_PC_DESTINATION "${CMAKE_INSTALL_PREFIX}/${DEXARO_PC_DESTINATION}")
endif()
file(INSTALL DESTINATION "${DEXARO_PC_DESTINATION}" TYPE FILE FILES "${_dexaro_pc_file}")
