# larkspur_test(NAME SOURCES a_test.cc ... LIBS lib ...)
# One GoogleTest program per library; tests run with the offscreen Qt platform
# so that no display is needed anywhere.
function(larkspur_test name)
  if(NOT LARKSPUR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LARKSPUR_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    LARKSPUR_BIN_DIR="${LARKSPUR_BIN_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# larkspur_tool(NAME): a command-line tool that the tool runner starts from
# the tool folder exebat beside the window's executable.
function(larkspur_tool name)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LARKSPUR_TOOL_DIR})
endfunction()
