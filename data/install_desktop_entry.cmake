# Installs the desktop entry, run by `cmake --install`, where the prefix is
# final. A launcher finds the program by name only in the folders of the
# session's PATH; a per-user or custom prefix is on it late or never, so the
# entry then names the installed program by its full path.
#
# Set before it runs: CORVALENT_DESKTOP_ENTRY (the entry as written),
# CORVALENT_DESKTOP_STAGE (a build folder it may use and removes again),
# CORVALENT_BINDIR and CORVALENT_APPLICATIONS_DIR (as configured, relative to
# the prefix or absolute).

function(corvalent_under_prefix folder result)
  if(NOT IS_ABSOLUTE "${folder}")
    set(prefix "${CMAKE_INSTALL_PREFIX}")
    if(NOT IS_ABSOLUTE "${prefix}")
      set(prefix "$ENV{PWD}/${prefix}")
    endif()
    set(folder "${prefix}/${folder}")
  endif()
  cmake_path(NORMAL_PATH folder)
  string(REGEX REPLACE "(.)/+$" "\\1" folder "${folder}")
  set(${result} "${folder}" PARENT_SCOPE)
endfunction()

# The Exec value that starts `program`: its name where every session finds
# it, else its path, quoted and escaped as the desktop entry format asks.
function(corvalent_exec_value bindir result)
  if(bindir STREQUAL "/usr/bin" OR bindir STREQUAL "/usr/local/bin")
    set(${result} "corvalent" PARENT_SCOPE)
    return()
  endif()
  set(program "${bindir}/corvalent")
  if(program MATCHES "[\n\r]")
    message(FATAL_ERROR "A desktop entry cannot name a program whose path holds a line break: ${program}")
  endif()
  string(FIND "${program}" "\\" backslash)
  if(NOT backslash EQUAL -1 OR program MATCHES "[] \t\"'<>~|&;$*?#()`[]")
    # Inside quotes, these four take a backslash before them.
    string(REPLACE "\\" "\\\\" program "${program}")
    foreach(special "\"" "`" "$")
      string(REPLACE "${special}" "\\${special}" program "${program}")
    endforeach()
    set(program "\"${program}\"")
  endif()
  string(REPLACE "%" "%%" program "${program}")
  # The value is a string, whose own escape doubles every backslash.
  string(REPLACE "\\" "\\\\" program "${program}")
  set(${result} "${program}" PARENT_SCOPE)
endfunction()

corvalent_under_prefix("${CORVALENT_BINDIR}" corvalent_bindir)
corvalent_under_prefix("${CORVALENT_APPLICATIONS_DIR}" corvalent_applications)
corvalent_exec_value("${corvalent_bindir}" corvalent_exec)

file(READ "${CORVALENT_DESKTOP_ENTRY}" corvalent_entry)
string(REGEX MATCH "\nExec=[^\n]*" corvalent_exec_line "${corvalent_entry}")
if(NOT corvalent_exec_line)
  message(FATAL_ERROR "${CORVALENT_DESKTOP_ENTRY} has no Exec line")
endif()
string(REPLACE "${corvalent_exec_line}" "\nExec=${corvalent_exec}" corvalent_entry "${corvalent_entry}")
file(REMOVE_RECURSE "${CORVALENT_DESKTOP_STAGE}")
file(WRITE "${CORVALENT_DESKTOP_STAGE}/corvalent.desktop" "${corvalent_entry}")
# file(INSTALL) adds DESTDIR and lists the file in the install manifest.
file(INSTALL DESTINATION "${corvalent_applications}" TYPE FILE FILES "${CORVALENT_DESKTOP_STAGE}/corvalent.desktop")
# An install through sudo would leave a folder the user could not replace.
file(REMOVE_RECURSE "${CORVALENT_DESKTOP_STAGE}")
