# The Debian package quorpolicy_<version>_amd64.deb (`cpack -G DEB` in a build
# configured with the `package` preset, which installs under /usr): the three
# libraries, headers and CMake package files, the quorpolicy command, the
# statement files, the resource bundle and the systemd unit of the policy
# service.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quorpolicy.service
  DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorpolicy)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorpolicy/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorpolicy/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorpolicy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Policy library of a mail-security gateway, with its command and policy service")
set(CPACK_PACKAGE_CONTACT "QuorPolicy developers <quorpolicy@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# The embedded database needs the SQLite driver, a shared one the PostgreSQL
# driver; either will do.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libstdc++6 (>= 12), libodbc2, odbc-postgresql | libsqliteodbc, libicu72, libssl3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc, unixodbc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postfix, odbc-postgresql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
