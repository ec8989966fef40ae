# The Debian packages (`cpack -G DEB` in a build configured with the
# `package` preset, which installs under /usr), one per install component
# (cmake/QuorInstall.cmake):
#   libquorpolicy1, libquordataaccess1, libquorcommon1
#                       the shared libraries, each named after its SONAME
#   libquorpolicy-dev   headers, .so links and the CMake package files
#   quorpolicy          the command with its manual page, statement files and
#                       resource bundle, the policy service's systemd unit and
#                       the example lists as configuration files in
#                       /etc/quorpolicy
# The binaries are stripped; their debug symbols go to one <package>-dbgsym
# .ddeb beside each package that holds binaries.
set(QUOR_DEB_MAINTAINER "QuorPolicy developers <quorpolicy@example.org>")
set(QUOR_DEB_REVISION 1)
set(QUOR_DEB_VERSION ${PROJECT_VERSION}-${QUOR_DEB_REVISION})
set(QUOR_LIB_SUFFIX ${PROJECT_VERSION_MAJOR})

# Debian's name of each component's package.
set(QUOR_DEB_NAME_Policy libquorpolicy${QUOR_LIB_SUFFIX})
set(QUOR_DEB_NAME_DataAccess libquordataaccess${QUOR_LIB_SUFFIX})
set(QUOR_DEB_NAME_Common libquorcommon${QUOR_LIB_SUFFIX})
set(QUOR_DEB_NAME_Development libquorpolicy-dev)
set(QUOR_DEB_NAME_Tool quorpolicy)
set(QUOR_DEB_COMPONENTS Policy DataAccess Common Development Tool)

# Every package carries the project's copyright file and its Debian
# changelog in /usr/share/doc/<package>/, the changelog compressed as dpkg
# installs it.
set(QUOR_DEB_BUILD_DIR ${PROJECT_BINARY_DIR}/debian)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${QUOR_DEB_BUILD_DIR}/changelog @ONLY)
execute_process(
  COMMAND ${QUOR_GZIP} -9 -n -c ${QUOR_DEB_BUILD_DIR}/changelog
  OUTPUT_FILE ${QUOR_DEB_BUILD_DIR}/changelog.Debian.gz
  COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS QUOR_DEB_COMPONENTS)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
    ${QUOR_DEB_BUILD_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUOR_DEB_NAME_${component}}
    COMPONENT ${component})
endforeach()

# The example lists are configuration files: an administrator's edits
# survive upgrades.
file(WRITE ${QUOR_DEB_BUILD_DIR}/conffiles
  "${QUOR_INSTALL_CONFDIR}/white.list\n${QUOR_INSTALL_CONFDIR}/black.list\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorpolicy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUOR_DEB_MAINTAINER})
# Each package's description starts with its own synopsis; CPack prepends
# the project-wide summary unless that is left at its default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_COMPONENTS_ALL ${QUOR_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUOR_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SOURCE quorpolicy)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian/dbgsym.cmake)
# dpkg-shlibdeps finds the system's libraries by their shlibs and symbols
# files, this project's own ones in the build tree (their dependencies are
# the exact versions of the sibling packages, below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/dataaccess ${PROJECT_BINARY_DIR}/quorcommon)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(component IN LISTS QUOR_DEB_COMPONENTS)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${QUOR_DEB_NAME_${component}})
endforeach()

# The libraries: the loader's cache is refreshed by dpkg's ldconfig trigger.
set(_quor_lib_intro
  "QuorPolicy is the policy library of a mail-security gateway: black and\n"
  "white lists of sender and recipient addresses, the policy objects of the\n"
  "gateway's administrators and the settings of its policy server.\n\n")
string(CONCAT CPACK_DEBIAN_POLICY_DESCRIPTION
  "policy library of the QuorPolicy mail-security gateway\n" ${_quor_lib_intro}
  "This package contains the shared library libQuorPolicy: address matching,\n"
  "list files, policy objects, the vocabulary and settings interfaces.")
string(CONCAT CPACK_DEBIAN_DATAACCESS_DESCRIPTION
  "data-access library of the QuorPolicy mail-security gateway\n" ${_quor_lib_intro}
  "This package contains the shared library libQuorDataAccess: the ODBC\n"
  "connection pool, the statement-file loader and the PolicyLog facade.")
string(CONCAT CPACK_DEBIAN_COMMON_DESCRIPTION
  "common runtime library of the QuorPolicy mail-security gateway\n" ${_quor_lib_intro}
  "This package contains the shared library libQuorCommon: configuration\n"
  "files, settings stores, resource bundles, locks, timers, pools and the\n"
  "decryption of stored credentials.")
foreach(upper IN ITEMS POLICY DATAACCESS COMMON)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
endforeach()
set(CPACK_COMPONENT_POLICY_DEPENDS DataAccess Common)
set(CPACK_COMPONENT_COMMON_DEPENDS DataAccess)

string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "development files of the QuorPolicy libraries\n" ${_quor_lib_intro}
  "This package contains the headers (the umbrella header QuorPolicy.h\n"
  "includes them all), the links to the three shared libraries and the CMake\n"
  "package QuorPolicy (find_package(QuorPolicy CONFIG), target\n"
  "QuorPolicy::QuorPolicy).")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Policy DataAccess Common)
# ICU's types appear in the installed headers; the CMake package finds it.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libicu-dev")

string(CONCAT CPACK_DEBIAN_TOOL_DESCRIPTION
  "mail policy command and Postfix policy service of QuorPolicy\n"
  "The quorpolicy command decides whether addresses are white-listed or\n"
  "black-listed across list files, makes installation roots with their policy\n"
  "database (SQLite or PostgreSQL through ODBC), queries and administers the\n"
  "policy objects and the policy server's settings.\n\n"
  "`quorpolicy serve` is an access policy service for Postfix: it answers\n"
  "the SMTP server's policy requests from the list files. The package runs\n"
  "it as a systemd service with the example lists in /etc/quorpolicy.")
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_TOOL_DEPENDS Policy DataAccess Common)
# The embedded database needs the SQLite driver, a shared one the PostgreSQL
# driver; either will do. The libraries load them through unixODBC at run
# time, so dpkg-shlibdeps cannot see them. passwd makes the service's user.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "passwd, libsqliteodbc | odbc-postgresql")
set(CPACK_DEBIAN_TOOL_PACKAGE_RECOMMENDS "libsqliteodbc, unixodbc")
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS "postfix, odbc-postgresql")
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA
  ${QUOR_DEB_BUILD_DIR}/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
include(CPack)
