# Run by `cmake --install`: writes the systemd units of `razivu serve` with
# ExecStart naming the tool of this install, whose prefix (--prefix) is known
# only now. cmake/install.cmake sets RAZIVU_UNITS_SOURCE (contrib/), and
# RAZIVU_UNITS_BINDIR and RAZIVU_UNITS_DIR, each below the prefix unless
# absolute. Written straight into the install tree (DESTDIR honoured), so
# an install as root leaves nothing of root's in the build tree.

foreach(var RAZIVU_UNITS_BINDIR RAZIVU_UNITS_DIR)
  if(NOT IS_ABSOLUTE "${${var}}")
    set(${var} "${CMAKE_INSTALL_PREFIX}/${${var}}")
  endif()
endforeach()

# The program of a systemd command line, whatever its path holds: quoted,
# with the escape, quote and specifier signs escaped (a program's path is
# not searched for variables, so '$' stands as it is).
set(tool "${RAZIVU_UNITS_BINDIR}/razivu")
foreach(sign "\\" "\"")
  string(REPLACE "${sign}" "\\${sign}" tool "${tool}")
endforeach()
string(REPLACE "%" "%%" tool "${tool}")
set(RAZIVU_TOOL "\"${tool}\"")

set(dest "$ENV{DESTDIR}${RAZIVU_UNITS_DIR}")
file(MAKE_DIRECTORY "${dest}")
foreach(unit razivu.socket razivu.service razivu@.socket razivu@.service)
  set(source "${RAZIVU_UNITS_SOURCE}/${unit}")
  if(EXISTS "${source}.in")
    string(APPEND source ".in")
  endif()
  file(READ "${source}" text)
  message(STATUS "Installing: ${dest}/${unit}")
  file(CONFIGURE OUTPUT "${dest}/${unit}" CONTENT "${text}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${dest}/${unit}")
endforeach()
