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

# larkspur_headers(TARGET PUBLIC|PRIVATE|INTERFACE FOLDER [OWN_HEADERS_ONLY])
# Makes the headers of FOLDER (a folder of the project, "rofs" or
# "tools/larkspur-cli") reachable as "FOLDER/name.h" for TARGET, and with
# PUBLIC or INTERFACE for whatever links it, and for nothing else. The
# include base is a folder of the build tree that holds a single link, FOLDER,
# to the source folder; no target has the project root as include base. So
# a header that reaches a library its target does not link fails to compile,
# and the layering of ARCHITECTURE.md is checked by every build.
# OWN_HEADERS_ONLY links the folder's own headers one by one instead of the
# folder, for a folder whose subfolders are other targets (app/ and its
# windows app/qt/, app/win32/). On a Windows host, symbolic links need the
# developer mode (or an administrator).
function(larkspur_headers target scope folder)
  cmake_parse_arguments(ARG "OWN_HEADERS_ONLY" "" "" ${ARGN})
  string(REPLACE "/" "-" base_name "${folder}")
  set(base ${CMAKE_BINARY_DIR}/include/${base_name})
  set(link ${base}/${folder})
  if(ARG_OWN_HEADERS_ONLY)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    # Links of headers removed since the last run go with the folder.
    file(REMOVE_RECURSE ${link})
    file(MAKE_DIRECTORY ${link})
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${link}/${name} SYMBOLIC)
    endforeach()
  else()
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${base})
endfunction()
