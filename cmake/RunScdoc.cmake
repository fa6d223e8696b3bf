# cmake -DSCDOC=... -DINPUT=... -DOUTPUT=... -P RunScdoc.cmake
# Runs scdoc (standard input to standard output) and then makes the roff
# independent of the reader's locale: the two non-ASCII characters the
# program prints become groff's own escapes. It also turns hyphenation off
# after .TH, which re-enables it, so that option and value names are never
# broken across lines. A failed run leaves no half-written page behind.
execute_process(
  COMMAND "${SCDOC}"
  INPUT_FILE "${INPUT}"
  OUTPUT_FILE "${OUTPUT}.tmp"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "scdoc failed on ${INPUT} (status ${status})")
endif()
file(READ "${OUTPUT}.tmp" roff)
string(REPLACE "—" "\\(em" roff "${roff}")
string(REPLACE "→" "\\(->" roff "${roff}")
string(REGEX REPLACE "(\n\\.TH [^\n]*\n)" "\\1.nh\n" roff "${roff}")
if(roff MATCHES "[^\t\n -~]")
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "${INPUT} holds a non-ASCII character without a groff escape; add it to ${CMAKE_CURRENT_LIST_FILE}")
endif()
file(WRITE "${OUTPUT}.tmp" "${roff}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
