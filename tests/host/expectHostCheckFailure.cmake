# Runs a host check program that must fail: non-zero exit, each of LINES
# (a list) as the start of a line of its output, and the closing tally.
# EMULATOR: the command that runs a cross-compiled program, if any.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE output)
if(status EQUAL 0)
  message(FATAL_ERROR "the kit passed a wrong host:\n${output}")
endif()
foreach(expected IN LISTS LINES)
  string(FIND "\n${output}" "\n${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing line: ${expected}\noutput:\n${output}")
  endif()
endforeach()
if(NOT output MATCHES "\n[0-9]+ passed, [1-9][0-9]* failed\n$")
  message(FATAL_ERROR "no closing tally:\n${output}")
endif()
