# Checks the SONAME of a shared library.
execute_process(COMMAND "${READELF}" -d "${LIBRARY}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${READELF} failed on ${LIBRARY}")
endif()
if(NOT dynamic MATCHES "Library soname: \\[${EXPECTED}\\]")
  message(FATAL_ERROR "SONAME is not ${EXPECTED}:\n${dynamic}")
endif()
message(STATUS "SONAME ${EXPECTED}")
