# Installation and the CMake package QuorPolicy.
#
# Every rule names its install component; each component becomes one Debian
# package (cmake/QuorPackage.cmake):
#   Policy, DataAccess, Common  the three shared libraries, one each
#   Development                 headers, .so links and the CMake package files
#   Tool                        the quorpolicy command and what it needs: manual
#                               page, statement files, resource bundle, the
#                               policy service's systemd unit and example lists
# `cmake --install` without --component installs them all.
include(CMakePackageConfigHelpers)

set(QUOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorPolicy)

# A shared library into its own component, its .so link into Development.
function(quor_install_library target component)
  install(TARGETS ${target}
    EXPORT QuorPolicyTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component}
      NAMELINK_COMPONENT Development
    INCLUDES DESTINATION ${QUOR_INSTALL_INCLUDEDIR})
endfunction()
quor_install_library(QuorPolicy Policy)
quor_install_library(QuorDataAccess DataAccess)
quor_install_library(QuorCommon Common)

install(DIRECTORY ${QUOR_PUBLIC_INCLUDE_DIR}/
  DESTINATION ${QUOR_INSTALL_INCLUDEDIR}
  COMPONENT Development
  FILES_MATCHING PATTERN "*.h")

install(EXPORT QuorPolicyTargets
  NAMESPACE QuorPolicy::
  DESTINATION ${QUOR_CMAKE_DIR}
  COMPONENT Development)

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/QuorPolicyConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuorPolicyConfig.cmake
  INSTALL_DESTINATION ${QUOR_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/QuorPolicyConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/QuorPolicyConfig.cmake
  ${PROJECT_BINARY_DIR}/QuorPolicyConfigVersion.cmake
  DESTINATION ${QUOR_CMAKE_DIR}
  COMPONENT Development)

# The manual page, compressed as manual pages are installed.
find_program(QUOR_GZIP gzip REQUIRED)
set(QUOR_MANPAGE ${PROJECT_BINARY_DIR}/quorpolicy.1.gz)
add_custom_command(OUTPUT ${QUOR_MANPAGE}
  COMMAND ${QUOR_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/docs/quorpolicy.1 > ${QUOR_MANPAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/quorpolicy.1
  COMMENT "Compressing the manual page")
add_custom_target(QuorManPage ALL DEPENDS ${QUOR_MANPAGE})
install(FILES ${QUOR_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tool)

# The policy service's systemd unit, its documentation and the example lists.
# The unit's command line reads white.list and black.list from the
# configuration folder: /etc/quorpolicy for the package (prefix /usr),
# <prefix>/etc/quorpolicy otherwise, so that an installation into a scratch
# prefix stays inside it.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quorpolicy.service
  ${PROJECT_SOURCE_DIR}/packaging/quorpolicy-console.service
  DESTINATION lib/systemd/system COMPONENT Tool)
set(QUOR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorpolicy)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUOR_DOC_DIR} COMPONENT Tool)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${QUOR_DOC_DIR}/docs COMPONENT Tool
  PATTERN "*.1" EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${QUOR_DOC_DIR}/examples
  COMPONENT Tool)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QUOR_INSTALL_CONFDIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quorpolicy)
else()
  set(QUOR_INSTALL_CONFDIR ${CMAKE_INSTALL_SYSCONFDIR}/quorpolicy)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/company-white.list
  DESTINATION ${QUOR_INSTALL_CONFDIR} RENAME white.list COMPONENT Tool)
install(FILES ${PROJECT_SOURCE_DIR}/examples/black.list
  DESTINATION ${QUOR_INSTALL_CONFDIR} COMPONENT Tool)
