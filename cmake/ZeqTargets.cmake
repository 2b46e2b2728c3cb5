# Helpers that keep each subsystem's CMakeLists short: a subsystem library is
# every .cpp in its folder (platform-specific subfolders excluded), and a test
# executable is every .cpp in one tests/ folder.

# zeq_library(NAME DIR <dir> [DEPS <targets>...] [EXCLUDE <regex>])
# EXCLUDE leaves out the folder's files whose names match, for a folder that
# two libraries share.
function(zeq_library name)
  cmake_parse_arguments(ARG "" "DIR;EXCLUDE" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  if(ARG_EXCLUDE AND sources)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(EXISTS ${ARG_DIR}/${ZEQ_PLATFORM})
    file(GLOB platform_sources CONFIGURE_DEPENDS ${ARG_DIR}/${ZEQ_PLATFORM}/*.cpp)
    list(APPEND sources ${platform_sources})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # A subsystem whose sources are still to come.
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${ARG_DIR})
  target_link_libraries(${name} ${scope} ${ARG_DEPS})
endfunction()

# zeq_test(NAME DIR <dir> [LIBS <targets>...] [LABELS <labels>...])
# Every test executable runs inside a private network namespace (and, in the
# Windows build, under wine) through the target's emulator wrapper. The label
# "threads" marks the programs that the ThreadSanitizer run selects.
function(zeq_test name)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zeq_test_support)
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${ZEQ_TEST_LAUNCHER}")
  if(WIN32)
    # One wine start per executable: starting wine for every single test
    # would cost seconds each.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900 LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
      PROPERTIES TIMEOUT 300 ENVIRONMENT "ZEQ_BUILD_DIR=${CMAKE_BINARY_DIR}")
    # The discovery script flattens its properties into one list, which
    # would keep only the first of several labels; so the labels are set by
    # a script of their own that ctest reads after the discovered tests.
    if(ARG_LABELS)
      set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
      file(WRITE ${labels_script}
        "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
    endif()
  endif()
endfunction()
