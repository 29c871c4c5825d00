# Writes the manual page and the bash completion script by asking the built
# tool (-DTOOL=...) for them. Usage: cmake -DTOOL= -DMAN= -DCOMPLETION= -P tool_docs.cmake
cmake_minimum_required(VERSION 3.25)
foreach(pair "--man;${MAN}" "--bash-completion;${COMPLETION}")
  list(GET pair 0 option)
  list(GET pair 1 out)
  execute_process(COMMAND ${TOOL} help ${option} OUTPUT_FILE ${out}.tmp RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE ${out}.tmp)
    message(FATAL_ERROR "razivu help ${option} failed: ${rc}")
  endif()
  file(RENAME ${out}.tmp ${out})
endforeach()
