# The programs of a Windows build as an operator gets them, one folder
# (cmake --install build-win --prefix DIR; scripts/package_windows.sh zips
# it): qm730ctl.exe alone, and qm730c.exe with what it loads beside it:
# Qt's DLLs as Qt built them, the windows platform plugin, the native style
# and the MinGW runtime DLLs that Qt's DLLs and the program share.
install(TARGETS qm730ctl RUNTIME DESTINATION .)
if(NOT QM730_BUILD_GUI)
  return()
endif()

# The MinGW runtime as the compiler links it: GCC's own libraries and
# winpthreads.
set(QM730_MINGW_RUNTIME_DLLS "")
foreach(dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(found "${found}" REALPATH)
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}: the window could not start")
  endif()
  list(APPEND QM730_MINGW_RUNTIME_DLLS "${found}")
endforeach()

install(TARGETS qm730c RUNTIME DESTINATION .)
install(FILES $<TARGET_RUNTIME_DLLS:qm730c> ${QM730_MINGW_RUNTIME_DLLS} DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
