# The test programs of a Windows build. They run under Wine on the build
# machine (the toolchain file makes Wine the programs' emulator), one ctest
# entry per program: every start of a Windows program costs about a second.
#
# Only what needs no pseudo-terminal builds here: the pure core (image, table
# file, rules, PLL, firmware file, frames, upload blocks, transfer protocol
# against a fake line) and the serial layer's own test program, which
# scripts/test_windows.sh runs against the simulated board.

# GoogleTest from Debian's source package (googletest), built for the target.
set(QM730_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources, built for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QM730_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

function(qm730_add_windows_tests name)
  cmake_parse_arguments(ARG "NO_CTEST" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${QM730_TEST_SUPPORT} ${PROJECT_SOURCE_DIR}/src)
  if(NOT ARG_NO_CTEST)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()

qm730_add_windows_tests(core_tests
  SOURCES
    core/config/configfile_w32_test.cpp
    core/config/editrules_test.cpp
    core/config/image_test.cpp
    core/config/pageviews_test.cpp
    core/config/paging_test.cpp
    core/config/pll_test.cpp
    core/config/systemsettings_test.cpp
    core/config/tablefilelock_test.cpp
    core/flash/firmware_test.cpp
  LIBS qm730core GTest::gtest_main)

# The transfer protocol is checked against the simulated board's own wire
# code, which needs no pseudo-terminal.
qm730_add_windows_tests(link_tests
  SOURCES
    core/link/boardframe_test.cpp
    core/link/portname_test.cpp
    core/link/transfer_layout_test.cpp
    core/link/transfer_protocol_test.cpp
    core/link/upload_block_test.cpp
    ${PROJECT_SOURCE_DIR}/src/sim/board_wire.cpp
    ${PROJECT_SOURCE_DIR}/src/sim/loader_wire.cpp
  LIBS qm730core GTest::gtest_main)

# The Win32 serial layer through Wine's serial devices; the cases that need
# the simulated board on COM1 skip themselves unless scripts/test_windows.sh
# put it there.
qm730_add_windows_tests(serial_w32_tests
  SOURCES core/link/serial_w32_test.cpp
  LIBS qm730core GTest::gtest_main)

add_test(NAME Layers.CoreKnowsNoWidgets
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src -P ${CMAKE_CURRENT_SOURCE_DIR}/check_layers.cmake)
