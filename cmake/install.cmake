# Installation: headers under include/razivu, both libraries, a CMake package
# (find_package(razivu)) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(DIRECTORY include/razivu DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
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

string(JOIN " " RAZIVU_PC_PRIVATE_LIBS ${RAZIVU_PC_LIBS})
configure_file(cmake/razivu.pc.in ${PROJECT_BINARY_DIR}/razivu.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/razivu.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
