# What `cmake --install` adds beside the targets: the CMake package that
# find_package(Corvane) reads, and the Debian package made by `cpack -G DEB`.
include(CMakePackageConfigHelpers)

set(CORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${CORVANE_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/CorvaneConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CORVANE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  DESTINATION ${CORVANE_INSTALL_CMAKEDIR})

# The Debian package: the installed tree under /usr.
set(CORVANE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane)
install(FILES packaging/copyright DESTINATION ${CORVANE_DOCDIR})
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS packaging/changelog
  COMMENT "Compressing the package's change log")
add_custom_target(CorvaneChangelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CORVANE_DOCDIR})

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane developers <developers@corvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exception reports for Qt desktop applications")
set(CPACK_PACKAGE_DESCRIPTION "A component that a Qt application places on a form: it catches every
unhandled exception, writes a report with the stack of the throw, shows an
error prompt, packs report and screenshot into an archive and mails it.
With the report viewer, the registry-store tool, the Qt Designer plugin,
the headers and the CMake package.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped binaries; their debug information, which names the frames of
# Corvane's own code in reports, goes to corvane-dbgsym under /usr/lib/debug.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# What find_package(Corvane) needs beyond the libraries that dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-base-dev, zlib1g-dev")
include(CPack)
