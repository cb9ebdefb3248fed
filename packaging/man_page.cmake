# Writes a program's manual page with its hidden --man-page option and
# gzips it the way Debian wants it (-9, no name or time stamp inside).
#   cmake -DPROGRAM=... -DOUTPUT=.../name.1.gz -P man_page.cmake
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(COMMAND "${PROGRAM}" --man-page OUTPUT_FILE "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --man-page failed: ${status}")
endif()
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed: ${status}")
endif()
