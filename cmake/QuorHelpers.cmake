# Build helpers shared by every folder of the project.

# Warning set used for all of our own code.
function(quor_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wshadow -Wformat=2 -Wnon-virtual-dtor>)
  if(QUOR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# quor_add_subsystem(<name> [SOURCES ...] [DEPS ...])
# Makes the static library quor_<name> (position-independent) that becomes
# part of the QuorPolicy shared library, linked there as a whole archive.
# Static rather than OBJECT libraries so that tests, benchmarks and fuzz
# targets get a subsystem's own dependencies transitively. Without SOURCES it takes every .cpp of the folder and of
# its detail/ subfolder. DEPS are what it may use (other subsystems, QuorDataAccess,
# QuorCommon, third-party targets); nothing else is visible to it.
function(quor_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(target quor_${name})
  if(NOT ARG_SOURCES)
    # By default a subsystem is every .cpp of its folder and its detail/.
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/detail/*.cpp)
  endif()
  if(ARG_SOURCES)
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${QUOR_PUBLIC_INCLUDE_DIR}>
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
    target_compile_definitions(${target} PRIVATE QUORPOLICY_BUILDING)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    quor_warnings(${target})
  else()
    # A subsystem with no code yet still takes part in the link graph.
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# quor_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...])
# One GoogleTest binary; every TEST becomes its own CTest test.
# A test binary links either subsystem libraries or the QuorPolicy
# shared library, never both, so that process-wide state exists once.
function(quor_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quor_test_support GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  quor_warnings(${name})
  set(labels ${ARG_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  if("concurrency" IN_LIST labels)
    set_property(GLOBAL APPEND PROPERTY QUOR_CONCURRENCY_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" ENVIRONMENT "QUOR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
