# Fails when an arrow between the source folders points the wrong way:
#   src/core  includes no Qt header and nothing of gui/, cli/ or sim/;
#     core/config includes nothing of core/link or core/flash, and
#     core/link nothing of core/flash (config, then link, then flash);
#   src/cli and src/sim include nothing of gui/ and no Qt header;
#   src/cli and src/sim include nothing of each other;
#   src/sim, the board's side of the wire, includes none of the program's
#   link or flash code, so a fault there cannot hide in the simulator too;
#   src/gui: app (start-up) over mainwindow over windows over seams; a
#   dialog gets what it needs from its caller, never from the main window;
#   a program-wide serial port or link state (a static one) is the windowed
#   program's own, in src/gui/app: the core and qm730ctl make theirs per run.
# Run as: cmake -DSOURCE_DIR=<src> -P check_layers.cmake
set(violations "")

function(check_folder folder forbidden_regex)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "${forbidden_regex}")
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
        list(APPEND violations "src/${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

# Flags every static object of the link's kinds in the folder's sources.
function(check_no_program_wide_link folder)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    if(source MATCHES "/gui/app/")
      continue()
    endif()
    file(STRINGS "${source}" statics
         REGEX "static[ \t]+(qm730::)?(SerialPort|SerialLine|LinkState|BoardLink|MemoryLine)[ \t&*]")
    if(statics)
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
      list(APPEND violations "src/${shown}: a static serial port or link state (the program's own: src/gui/app)")
    endif()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

set(qt "<Q[A-Za-z]*[>/.]|<qt|\"Q[A-Z][A-Za-z]*\"")
check_folder(core "${qt}|\"(gui|cli|sim)/")
check_folder(core/config "\"core/(link|flash)/")
check_folder(core/link "\"core/flash/")
check_folder(cli "${qt}|\"(gui|sim)/")
check_folder(sim "${qt}|\"(gui|cli)/|\"core/(link|flash)/")
check_folder(gui/mainwindow "\"gui/app/")
check_folder(gui/windows "\"gui/(app|mainwindow)/")
check_folder(gui/seams "\"gui/(app|mainwindow|windows)/")
check_no_program_wide_link(.)

if(violations)
  list(JOIN violations "\n  " shown)
  message(FATAL_ERROR "Against the layers:\n  ${shown}")
endif()
file(GLOB_RECURSE core_files "${SOURCE_DIR}/core/*.cpp")
if(NOT core_files)
  message(FATAL_ERROR "no core sources under ${SOURCE_DIR}/core")
endif()
message(STATUS "layers hold")
