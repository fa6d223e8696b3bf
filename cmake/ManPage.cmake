# The manual page: doc/zidazavavide.1.scd is scdoc source; the version is
# filled in at configure time and scdoc turns it into roff at build time.
# The page's date is the project's release date (ZZV_RELEASE_DATE), handed
# to scdoc as SOURCE_DATE_EPOCH, so the same sources always give the same page.
find_program(SCDOC_EXECUTABLE scdoc)
if(NOT SCDOC_EXECUTABLE)
  message(FATAL_ERROR "scdoc not found; it turns the manual page into roff (scripts/install-deps installs it)")
endif()

execute_process(
  COMMAND date -u -d "${ZZV_RELEASE_DATE} 00:00:00" +%s
  OUTPUT_VARIABLE ZZV_RELEASE_EPOCH
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _zzv_date_status)
if(NOT _zzv_date_status EQUAL 0 OR NOT ZZV_RELEASE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "ZZV_RELEASE_DATE '${ZZV_RELEASE_DATE}' is not a YYYY-MM-DD date")
endif()

set(ZZV_MAN_SOURCE "${CMAKE_CURRENT_BINARY_DIR}/doc/zidazavavide.1.scd")
set(ZZV_MAN_PAGE "${CMAKE_CURRENT_BINARY_DIR}/doc/zidazavavide.1")
configure_file("${CMAKE_CURRENT_SOURCE_DIR}/doc/zidazavavide.1.scd" "${ZZV_MAN_SOURCE}" @ONLY)

add_custom_command(
  OUTPUT "${ZZV_MAN_PAGE}"
  COMMAND "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${ZZV_RELEASE_EPOCH}"
          "${CMAKE_COMMAND}" -DSCDOC=${SCDOC_EXECUTABLE} -DINPUT=${ZZV_MAN_SOURCE} -DOUTPUT=${ZZV_MAN_PAGE}
          -P "${CMAKE_CURRENT_SOURCE_DIR}/cmake/RunScdoc.cmake"
  DEPENDS "${ZZV_MAN_SOURCE}" "${CMAKE_CURRENT_SOURCE_DIR}/cmake/RunScdoc.cmake"
  COMMENT "Generating the manual page zidazavavide.1"
  VERBATIM)
add_custom_target(manpage ALL DEPENDS "${ZZV_MAN_PAGE}")
