# The Windows build's tests, run under Wine on the private X server that the
# Linux suite uses: quarn.exe's report against the Linux quarn's on the same
# server, and the module in real contexts (real_gl_test.cpp). Included by
# tests/CMakeLists.txt in a cross build for Windows, after the X server's
# fixture and the test helpers.

# A Wine prefix of the build's own, made once; wine.stop waits until Wine's
# own processes (wineserver, its desktop) have ended. Both need the X server,
# so that it stops only after them and the tests that need Wine.
set(wine ${CMAKE_COMMAND} -DXVFB_DIR=${QUARN_XVFB_DIR}
  -DWINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wine -P ${CMAKE_CURRENT_SOURCE_DIR}/wine.cmake)
add_test(NAME wine.prefix COMMAND ${wine} wineboot)
add_test(NAME wine.stop COMMAND ${wine} wineserver)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine FIXTURES_REQUIRED xvfb TIMEOUT 120)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine FIXTURES_REQUIRED xvfb TIMEOUT 60)

# The Linux quarn, built beside, whose report on the same server the Windows
# one must give.
include(ExternalProject)
ExternalProject_Add(linux_quarn SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_CURRENT_BINARY_DIR}/linux
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DQUARN_BUILD_TESTS=OFF -DQUARN_INSTALL=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target quarn
  INSTALL_COMMAND "" BUILD_ALWAYS ON)
add_test(NAME windows.quarn_exe_reports_as_linux_quarn_does
  COMMAND ${wine} report $<TARGET_FILE:quarn> ${CMAKE_CURRENT_BINARY_DIR}/linux/quarn)
set_tests_properties(windows.quarn_exe_reports_as_linux_quarn_does PROPERTIES
  FIXTURES_REQUIRED wine TIMEOUT 60)
add_dependencies(quarn linux_quarn)

# GoogleTest, built for Windows from Debian's googletest source.
set(BUILD_GMOCK OFF)
set(INSTALL_GTEST OFF)
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(FATAL_ERROR "The Windows tests build GoogleTest from its source, "
    "/usr/src/googletest (Debian: googletest)")
endif()
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
add_executable(real_gl_test real_gl_test.cpp)
target_link_libraries(real_gl_test PRIVATE quarn::module GLUT::GLUT quarn_options
  quarn_test_support gtest_main)
set_property(TARGET real_gl_test PROPERTY CROSSCOMPILING_EMULATOR ${wine} run)
gtest_discover_tests(real_gl_test NO_PRETTY_VALUES DISCOVERY_TIMEOUT 120 PROPERTIES
  FIXTURES_REQUIRED wine TIMEOUT 60)
