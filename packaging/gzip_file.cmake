# Copies INPUT to OUTPUT (ending in .gz) gzipped with -9n (reproducible).
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
configure_file("${INPUT}" "${plain}" COPYONLY)
execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${plain} failed: ${status}")
endif()
