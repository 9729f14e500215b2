# Writes the manual page of one program from its own --help and --version,
# gzipped as Debian installs manual pages. For a program with commands, each
# command's help (PROGRAM help COMMAND) becomes a subsection of COMMANDS.
#
#   cmake -DHELP2MAN=... -DPROGRAM=... -DNAME_LINE=... -DOUTPUT=....1.gz
#         [-DCOMMANDS=new;dump;... or -DCOMMANDS=FROM_HELP] -P man_page.cmake
cmake_policy(VERSION 3.25)

foreach(required HELP2MAN PROGRAM NAME_LINE OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "man_page.cmake needs -D${required}=")
  endif()
endforeach()

get_filename_component(program_name "${PROGRAM}" NAME)
set(page "${OUTPUT}")
string(REGEX REPLACE "\\.gz$" "" page "${page}")
set(include_file "${page}.include")
set(include_text "")

# COMMANDS=FROM_HELP: the commands the program's --help lists under
# "Subcommands:", but for help itself.
if(COMMANDS STREQUAL "FROM_HELP")
  execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program_name} --help failed (${status})")
  endif()
  string(REGEX MATCH "\nSubcommands:\n(  [^\n]*\n)+" listed "${help}")
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${listed}")
  set(COMMANDS "")
  foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    if(NOT name STREQUAL "help")
      list(APPEND COMMANDS ${name})
    endif()
  endforeach()
  if(NOT COMMANDS)
    message(FATAL_ERROR "${program_name} --help lists no commands")
  endif()
endif()

if(COMMANDS)
  string(APPEND include_text "[COMMANDS]\n")
  foreach(command IN LISTS COMMANDS)
    execute_process(COMMAND "${PROGRAM}" help ${command}
      OUTPUT_VARIABLE help RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${program_name} help ${command} failed (${status})")
    endif()
    # The help is shown as the program prints it: roff's own characters
    # (a backslash anywhere, a dot or quote opening a line) are escaped.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(REGEX REPLACE "\n+$" "" help "${help}")
    string(APPEND include_text ".SS \"${program_name} ${command}\"\n.nf\n${help}\n.fi\n")
  endforeach()
endif()
set(include_option "")
if(include_text)
  file(WRITE "${include_file}" "${include_text}")
  set(include_option "--include=${include_file}")
endif()

execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1
          "--name=${NAME_LINE}" ${include_option} "--output=${page}" "${PROGRAM}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${program_name} (${status})")
endif()
# -n: no name or time stamp in the archive, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page} (${status})")
endif()
file(REMOVE "${include_file}")
