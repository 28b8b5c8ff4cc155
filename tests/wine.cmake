# Runs the Windows build's programs under Wine, in the build's own prefix
# (WINEPREFIX), on the private X server of the fixture in XVFB_DIR where it
# has one. Wine's X11 driver needs DISPLAY; the program itself must not see
# it, for freeglut would take it for a Windows display name and warn, so it
# is cleared in the program's Windows environment.
#   cmake -DXVFB_DIR=... -DWINEPREFIX=... -P wine.cmake wineboot
#   ... wineserver                 wait until Wine's own processes have ended
#   ... run PROGRAM [ARGUMENTS]    as CTest's emulator
#   ... report QUARN_EXE QUARN     the two reports agree
set(ENV{WINEPREFIX} ${WINEPREFIX})
# wineserver's socket folder, which it leaves behind, goes in the build
# folder too.
file(MAKE_DIRECTORY ${WINEPREFIX}-tmp)
set(ENV{TMPDIR} ${WINEPREFIX}-tmp)
set(ENV{WINEDEBUG} -all)
# No offer to install Mono or Gecko, which nothing here uses, and no menu
# entries in the home folder.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;winemenubuilder.exe=d")
if(EXISTS ${XVFB_DIR}/display)
  file(STRINGS ${XVFB_DIR}/display display)
  set(ENV{DISPLAY} ${display})
  set(ENV{XAUTHORITY} ${XVFB_DIR}/auth)
else()
  unset(ENV{DISPLAY})
endif()

# The words after the script's own name.
set(words)
foreach(i RANGE ${CMAKE_ARGC})
  if(DEFINED script_seen AND i LESS CMAKE_ARGC)
    list(APPEND words "${CMAKE_ARGV${i}}")
  elseif("${CMAKE_ARGV${i}}" STREQUAL "-P")
    set(script_seen ON)
  endif()
endforeach()
list(POP_FRONT words)  # the script
list(POP_FRONT words mode)

# Runs PROGRAM with the arguments through cmd, which clears DISPLAY first.
# Wine hands cmd a quoted path as \"...\", which cmd cannot run, so PROGRAM
# is started by its bare name from its own folder, whatever blanks its path
# holds: cmd looks in the current folder first.
function(run_windows_program program)
  get_filename_component(folder "${program}" DIRECTORY)
  get_filename_component(name "${program}" NAME)
  list(JOIN ARGN " " arguments)
  execute_process(COMMAND wine cmd /c "set DISPLAY=&& ${name} ${arguments}"
    WORKING_DIRECTORY "${folder}" RESULT_VARIABLE status ${output})
  set(status ${status} PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
endfunction()

if(mode STREQUAL "wineboot")
  execute_process(COMMAND wineboot -i RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
elseif(mode STREQUAL "wineserver")
  execute_process(COMMAND wineserver -w RESULT_VARIABLE status)
elseif(mode STREQUAL "run")
  run_windows_program(${words})
elseif(mode STREQUAL "report")
  # The tool's five lines, with LF alone: the first four as the Linux
  # quarn's on the same server, the extensions the Linux list and then
  # Wine's own.
  list(GET words 0 quarn_exe)
  list(GET words 1 quarn)
  set(output OUTPUT_VARIABLE out ERROR_VARIABLE err)
  run_windows_program(${quarn_exe})
  set(windows "${out}")
  execute_process(COMMAND ${quarn} OUTPUT_VARIABLE linux RESULT_VARIABLE linux_status)
  string(REGEX MATCHALL "[^\n]*\n" windows_lines "${windows}")
  string(REGEX MATCHALL "[^\n]*\n" linux_lines "${linux}")
  list(LENGTH windows_lines count)
  if(NOT status EQUAL 0 OR NOT linux_status EQUAL 0 OR NOT count EQUAL 5 OR err)
    message(FATAL_ERROR "status ${status}, ${count} lines:\n${windows}${err}\nLinux: ${linux}")
  endif()
  if(windows MATCHES "\r")
    message(FATAL_ERROR "a carriage return in the report")
  endif()
  foreach(i RANGE 3)
    list(GET windows_lines ${i} line)
    list(GET linux_lines ${i} linux_line)
    if(NOT line STREQUAL linux_line)
      message(FATAL_ERROR "line ${i}: '${line}' where Linux quarn has '${linux_line}'")
    endif()
  endforeach()
  list(GET windows_lines 4 extensions)
  list(GET linux_lines 4 linux_extensions)
  string(REGEX REPLACE "\n$" "" linux_extensions "${linux_extensions}")
  string(FIND "${extensions}" "${linux_extensions}" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "the extension line does not begin with Linux quarn's")
  endif()
else()
  message(FATAL_ERROR "usage: cmake -P wine.cmake wineboot|wineserver|run|report ...")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${mode} ${words}: status ${status}")
endif()
