# The tests run under wine in the MinGW cross build, which shows the build
# machine's root folder as drive Z:; a bare "/work/..." would name a folder
# on the current drive instead, and the tests change the current directory.
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(LARKSPUR_TEST_HOST_ROOT "Z:")
else()
  set(LARKSPUR_TEST_HOST_ROOT "")
endif()

# larkspur_test(NAME SOURCES a_test.cc ... LIBS lib ...)
# One GoogleTest program per library, linked with the test library
# larkspur_testing (testing/); tests run with the offscreen Qt platform so
# that no display is needed anywhere.
function(larkspur_test name)
  if(NOT LARKSPUR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} larkspur_testing GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LARKSPUR_SOURCE_DIR="${LARKSPUR_TEST_HOST_ROOT}${CMAKE_SOURCE_DIR}"
    LARKSPUR_BIN_DIR="${LARKSPUR_TEST_HOST_ROOT}${LARKSPUR_BIN_DIR}")
  # The stand-in tool is made in testing/, after most tests are declared.
  add_dependencies(${name} larkspur_stand_in_tool)
  if(CMAKE_CROSSCOMPILING)
    # One ctest entry per program: listing the tests would start wine once
    # more for every program and every test.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()

# larkspur_tool(NAME): a command-line tool that the tool runner starts from
# the tool folder exebat beside the window's executable.
function(larkspur_tool name)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LARKSPUR_TOOL_DIR})
endfunction()
