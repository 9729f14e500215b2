# The test programs of a Windows build. They run under Wine on the build
# machine (the toolchain file makes Wine the programs' emulator), one ctest
# entry per program: every start of a Windows program costs about a second.
#
# Only what needs no pseudo-terminal builds here: the pure core (image, table
# file, rules, PLL, firmware file, frames, upload blocks, transfer protocol
# against a fake line), the serial layer's own test program, which
# scripts/test_windows.sh runs against the simulated board, and, with Qt for
# Windows, the widget tests offscreen.

# GoogleTest from Debian's source package (googletest), built for the target.
set(QM730_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources, built for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QM730_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest_main ALIAS gtest_main)
  add_library(GTest::gtest ALIAS gtest)
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

# The widget tests that need no pseudo-terminal, offscreen, with Qt's DLLs
# and plugins and the MinGW runtime found where they were built (Wine's
# WINEPATH is Windows' PATH), and DejaVu as the fonts (the offscreen platform
# reads font files from a folder; on Linux fontconfig finds the same). The
# board tests run only against the board scripts/test_windows.sh links to a
# COM port.
if(QM730_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  qm730_add_windows_tests(gui_tests
    SOURCES
      gui/gui_main.cpp
      gui/com_board_test.cpp
      gui/mainwindow/configtab_test.cpp
      gui/mainwindow/controlarrays_test.cpp
      gui/mainwindow/drop_test.cpp
      gui/mainwindow/editing_test.cpp
      gui/mainwindow/filenames_test.cpp
      gui/mainwindow/focusrules_test.cpp
      gui/mainwindow/mainwindow_test.cpp
      gui/mainwindow/pages_test.cpp
      gui/seams/fieldkeys_test.cpp
      gui/seams/keypress_test.cpp
      gui/seams/layoutscaler_test.cpp
      gui/seams/messagebox_test.cpp
      gui/windows/aboutbox_test.cpp
      gui/windows/passwords_test.cpp
    LIBS qm730gui Qt6::Test GTest::gtest
    TIMEOUT 300)
  target_include_directories(gui_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/gui)
  set_target_properties(gui_tests PROPERTIES QM730_RUNTIME_DLLS ON)
  get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
  get_filename_component(qt_bin "${qt_core_dll}" DIRECTORY)
  set(wine_path "${qt_bin}")
  foreach(dll IN LISTS QM730_MINGW_RUNTIME_DLLS)
    get_filename_component(dir "${dll}" DIRECTORY)
    list(APPEND wine_path "${dir}")
  endforeach()
  list(REMOVE_DUPLICATES wine_path)
  # Z: is the build machine's root under Wine.
  list(TRANSFORM wine_path PREPEND "Z:")
  string(REPLACE ";" "\\;" wine_path "${wine_path}")
  set_tests_properties(gui_tests PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;WINEPATH=${wine_path};QT_PLUGIN_PATH=Z:${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS};QT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu")
endif()

add_test(NAME Layers.CoreKnowsNoWidgets
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src -P ${CMAKE_CURRENT_SOURCE_DIR}/check_layers.cmake)
