# Rings written on a cross target (crashhost under its emulator) must be
# recovered by the native tracerecover to the very text the target's own
# tracerecover writes: other byte order, other word size. Run by CTest in
# the cross builds with -DEMULATOR (its arguments joined by "|"), -DWRITER,
# -DTOOL (both built for the target), -DNATIVE (the native tool) and -DDIR.
if(NOT EXISTS "${NATIVE}")
  message("native tracerecover missing: ${NATIVE} (build the release preset first)")
  return()
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
execute_process(COMMAND ${emulator} "${WRITER}" "${DIR}" RESULT_VARIABLE written)
if(NOT written EQUAL 0)
  message(FATAL_ERROR "crashhost failed: ${written}")
endif()
execute_process(COMMAND ${emulator} "${TOOL}" "${DIR}"
  OUTPUT_VARIABLE own ERROR_VARIABLE ownErrors RESULT_VARIABLE ownStatus)
execute_process(COMMAND "${NATIVE}" "${DIR}"
  OUTPUT_VARIABLE native ERROR_VARIABLE nativeErrors RESULT_VARIABLE nativeStatus)
file(WRITE "${DIR}.own" "${own}${ownErrors}exit ${ownStatus}\n")
file(WRITE "${DIR}.native" "${native}${nativeErrors}exit ${nativeStatus}\n")
if(own STREQUAL "" OR NOT ownStatus EQUAL 0)
  message(FATAL_ERROR "the target's own tracerecover failed (${ownStatus}): ${ownErrors}")
endif()
if(NOT own STREQUAL native OR NOT ownErrors STREQUAL nativeErrors OR
   NOT ownStatus EQUAL nativeStatus)
  message(FATAL_ERROR "native recovery differs: diff ${DIR}.own ${DIR}.native")
endif()
message("recovered alike by both tools: ${DIR}.own")
