# Installation and the CMake package QuorPolicy.
include(CMakePackageConfigHelpers)

set(QUOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorPolicy)

install(TARGETS QuorPolicy QuorDataAccess QuorCommon
  EXPORT QuorPolicyTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${QUOR_INSTALL_INCLUDEDIR})

install(DIRECTORY ${QUOR_PUBLIC_INCLUDE_DIR}/
  DESTINATION ${QUOR_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT QuorPolicyTargets
  NAMESPACE QuorPolicy::
  DESTINATION ${QUOR_CMAKE_DIR})

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
  DESTINATION ${QUOR_CMAKE_DIR})
