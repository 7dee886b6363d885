# Writes flvhost's manual page from its own --help texts, so that the page never drifts from the
# program: cmake -DFLVHOST=path/to/flvhost -DOUTPUT=flvhost.1 -DVERSION=x.y.z -P FlvhostManPage.cmake
#
# `flvhost --help` gives the description, the command list and the exit codes; each
# `flvhost COMMAND --help` gives a section of its own (its trailing exit-code table, the same for
# every command, is shown once).

function(run_help out_var)
  execute_process(COMMAND ${FLVHOST} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "flvhost ${ARGN} --help failed: ${result}")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Plain text as roff lines: backslashes escaped, no line taken for a request.
function(to_roff out_var text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# The text before "Exit codes:", and the table after it.
function(split_exit_codes text before_var codes_var)
  string(FIND "${text}" "Exit codes:\n" at)
  if(at EQUAL -1)
    set(${before_var} "${text}" PARENT_SCOPE)
    set(${codes_var} "" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${text}" 0 ${at} before)
  math(EXPR after "${at} + 12")
  string(SUBSTRING "${text}" ${after} -1 codes)
  string(STRIP "${before}" before)
  set(${before_var} "${before}" PARENT_SCOPE)
  set(${codes_var} "${codes}" PARENT_SCOPE)
endfunction()

run_help(overview)
split_exit_codes("${overview}" overview exit_codes)
# The command names: the indented lines between "Commands:" and the next blank line.
string(REGEX MATCH "Commands:\n(  [^\n]+\n)+" command_block "${overview}\n")
string(REGEX MATCHALL "\n  [a-z]+" command_names "${command_block}")
list(TRANSFORM command_names STRIP)
if(NOT command_names)
  message(FATAL_ERROR "flvhost --help lists no commands")
endif()

to_roff(overview_roff "${overview}")
to_roff(codes_roff "${exit_codes}")
set(page ".TH FLVHOST 1 \"\" \"zevflashfile5 ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nflvhost \\- a command-line host of the FlashFile5 FLV reader component\n")
string(APPEND page ".SH SYNOPSIS\n.B flvhost\n.I COMMAND\n[\\fIARGUMENTS\\fR]\n")
string(APPEND page ".SH DESCRIPTION\n.nf\n${overview_roff}\n.fi\n")
string(APPEND page ".SH COMMANDS\n")
foreach(command IN LISTS command_names)
  run_help(help ${command})
  split_exit_codes("${help}" help unused)
  to_roff(help_roff "${help}")
  string(APPEND page ".SS ${command}\n.nf\n${help_roff}\n.fi\n")
endforeach()
string(APPEND page ".SH EXIT STATUS\n.nf\n${codes_roff}.fi\n")
string(APPEND page ".SH FILES\n.TP\n.I /var/lib/zev-registry/machine.reg\n"
  "the machine-wide registry (ZEV_REGISTRY_MACHINE names another file)\n"
  ".TP\n.I ~/.config/zev-registry/user.reg\n"
  "the per-user registry (ZEV_REGISTRY_USER, else XDG_CONFIG_HOME, name another file)\n"
  ".TP\n.I ~/.local/share/Veltrano/FileCache/\n"
  "the index cache (under XDG_DATA_HOME when it is set)\n")
file(WRITE "${OUTPUT}.part" "${page}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
