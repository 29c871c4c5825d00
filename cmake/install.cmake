# Installation: headers under include/razivu, both libraries, a CMake package
# (find_package(razivu)) and pkg-config files, all relocatable: nothing
# installed names the prefix it was installed to, but for the systemd units,
# which cannot be written otherwise.
include(CMakePackageConfigHelpers)

# What a program linking the static library needs besides it, also when it
# is written in C and linked by the C compiler: the C++ run-time and the
# system libraries of the library's own calls.
set(RAZIVU_CXX_RUNTIME ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
if(CMAKE_C_IMPLICIT_LINK_LIBRARIES)
  list(REMOVE_ITEM RAZIVU_CXX_RUNTIME ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
endif()
list(REMOVE_DUPLICATES RAZIVU_CXX_RUNTIME)
# mingw-w64's libgcc_s is the import library of libgcc_s_dw2-1.dll: a program
# linked with -static would still need that DLL. libgcc_eh is the same
# unwinder as a static archive.
if(WIN32)
  list(TRANSFORM RAZIVU_CXX_RUNTIME REPLACE "^gcc_s$" "gcc_eh")
endif()
target_link_libraries(razivu_static INTERFACE ${RAZIVU_CXX_RUNTIME})

install(DIRECTORY include/razivu DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(TARGETS razivu razivu_static EXPORT razivuTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT razivuTargets NAMESPACE razivu::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/razivu)
configure_package_config_file(cmake/razivuConfig.cmake.in
  ${PROJECT_BINARY_DIR}/razivuConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/razivu)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/razivuConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/razivuConfig.cmake
              ${PROJECT_BINARY_DIR}/razivuConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/razivu)

# pkg-config: the prefix is found from where the .pc file lies.
set(_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
  set(RAZIVU_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH _up /${_pc_dir} /)
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(RAZIVU_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
set(RAZIVU_PC_PRIVATE_LIBS "")
foreach(lib IN LISTS RAZIVU_CXX_RUNTIME RAZIVU_SYSTEM_LIBS)
  string(APPEND RAZIVU_PC_PRIVATE_LIBS " -l${lib}")
endforeach()
string(STRIP "${RAZIVU_PC_PRIVATE_LIBS}" RAZIVU_PC_PRIVATE_LIBS)

# razivu.pc links the shared library (with --static, its dependencies too);
# razivu-static.pc names the archive itself, which plain -lrazivu would not
# pick while the shared library lies beside it.
set(RAZIVU_PC_NAME razivu)
set(RAZIVU_PC_LIBS "-L\${libdir} -lrazivu")
set(RAZIVU_PC_LIBS_PRIVATE "${RAZIVU_PC_PRIVATE_LIBS}")
set(RAZIVU_PC_CFLAGS "")
configure_file(cmake/razivu.pc.in ${PROJECT_BINARY_DIR}/razivu.pc @ONLY)
set(RAZIVU_PC_NAME razivu-static)
set(RAZIVU_PC_LIBS
  "\${libdir}/${CMAKE_STATIC_LIBRARY_PREFIX}razivu${CMAKE_STATIC_LIBRARY_SUFFIX} ${RAZIVU_PC_PRIVATE_LIBS}")
set(RAZIVU_PC_LIBS_PRIVATE "")
set(RAZIVU_PC_CFLAGS " -DRAZIVU_STATIC")
configure_file(cmake/razivu.pc.in ${PROJECT_BINARY_DIR}/razivu-static.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/razivu.pc ${PROJECT_BINARY_DIR}/razivu-static.pc
        DESTINATION ${_pc_dir})

# Windows: the export list beside the import library, for toolchains that
# make their own.
if(WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/razivu.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# The systemd units of `razivu serve`, in lib/systemd/system below the
# prefix: systemd looks there for the prefixes /usr and /usr/local, whatever
# the libraries' directory (lib/x86_64-linux-gnu with the prefix /usr).
# ExecStart names the tool by its full path, so they are written at install
# time, for the prefix given then.
if(RAZIVU_BUILD_TOOLS AND NOT WIN32)
  set(RAZIVU_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
      "Where the systemd units are installed: below the prefix unless absolute")
  install(CODE "set(RAZIVU_UNITS_SOURCE \"${PROJECT_SOURCE_DIR}/contrib\")
  set(RAZIVU_UNITS_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(RAZIVU_UNITS_DIR \"${RAZIVU_SYSTEMD_UNIT_DIR}\")")
  install(SCRIPT cmake/systemd_units.cmake)
endif()
