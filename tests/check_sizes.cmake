# Lists the source files over 400 lines and the functions over 80 lines, and
# fails when one is not among the known ones below. A function is counted
# from the first line of its definition (at the left margin, or one level in
# inside a class; its signature may run over several lines) to the line that
# closes it at the same indentation. One-line functions, and lambdas inside a
# function, are part of the function around them.
# Run as: cmake -DROOT=<top folder> -P check_sizes.cmake
cmake_minimum_required(VERSION 3.25)  # empty lines are list elements; IN_LIST
set(max_file_lines 400)
set(max_function_lines 80)
set(folders src fuzz)

# What may stay long, each with its reason; one that is short again is
# pointed out, so the list shrinks with the code.
set(known_long
  # a flat wiring table: one handler connected per line, read as one
  "src/gui/mainwindow/form1_connect.cpp:TForm1::connectHandlers"
)

set(findings "")
set(notes "")
set(seen_known "")

function(report what)
  foreach(entry IN LISTS known_long)
    if(what MATCHES "^${entry}[: ]")
      list(APPEND notes "${what} (known)")
      list(APPEND seen_known "${entry}")
      set(notes "${notes}" PARENT_SCOPE)
      set(seen_known "${seen_known}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  list(APPEND findings "${what}")
  set(findings "${findings}" PARENT_SCOPE)
endfunction()

foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH shown "${ROOT}" "${source}")
    # One list element per line: the code's own ";", brackets and
    # backslashes must neither split nor join them.
    file(READ "${source}" text)
    string(REPLACE ";" "@SEMICOLON@" text "${text}")
    string(REPLACE "[" "<" text "${text}")
    string(REPLACE "]" ">" text "${text}")
    string(REPLACE "\\" "/" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    list(LENGTH lines count)
    if(text MATCHES "\n$")
      math(EXPR count "${count} - 1")
    endif()
    if(count GREATER max_file_lines)
      report("${shown}: ${count} lines")
    endif()

    set(number 0)
    set(start 0)   # the first line of a definition under way
    set(opened FALSE)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(opened)
        if(line MATCHES "^${indent}}")
          math(EXPR length "${number} - ${start} + 1")
          if(length GREATER max_function_lines)
            report("${shown}:${name} ${length} lines (from line ${start})")
          endif()
          set(opened FALSE)
          set(start 0)
        endif()
        continue()
      endif()
      if(start EQUAL 0)
        if(line MATCHES "^ *(namespace|class|struct|enum|union|extern|if|for|while|switch|else|do|return|//|#)")
          continue()
        endif()
        if(NOT line MATCHES "^(    )?[A-Za-z_~][^=]*[(]")
          continue()
        endif()
        set(start ${number})
        set(indent "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "^ *([^(]*)[(].*" "\\1" name "${line}")
        string(REGEX REPLACE ".* ([^ ]+)$" "\\1" name "${name}")
      endif()
      if(line MATCHES "{$")
        set(opened TRUE)
      elseif(line MATCHES "@SEMICOLON@$|}$|^$")
        set(start 0)  # a declaration, or no definition after all
      endif()
    endforeach()
  endforeach()
endforeach()

foreach(note IN LISTS notes)
  message(STATUS "${note}")
endforeach()
foreach(entry IN LISTS known_long)
  if(NOT entry IN_LIST seen_known)
    message(STATUS "${entry} is within the limits now: drop it from the known ones")
  endif()
endforeach()
if(findings)
  list(JOIN findings "\n  " shown)
  message(FATAL_ERROR "Over ${max_file_lines} lines a file or ${max_function_lines} a function:\n  ${shown}")
endif()
message(STATUS "no other file over ${max_file_lines} lines, no other function over ${max_function_lines}")
