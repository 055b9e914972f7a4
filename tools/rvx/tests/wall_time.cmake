# rvx (under the emulator in the Windows build) with wall-clock time: a
# CSV of UTC timestamps imported into the wall-clock time of a fixed
# offset, exported back as timestamps with that offset; on Windows, a zone
# name is refused, for want of a zone database.
#   cmake -DRVX=<rvx.exe> -DEMULATOR=<wine or empty> -DDIR=<work dir> -DWINDOWS=<1 or empty>
#         -P wall_time.cmake
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})

function(rvx expected_status)
  execute_process(COMMAND ${EMULATOR} ${RVX} ${ARGN}
                  WORKING_DIRECTORY ${DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "rvx ${ARGN}: exit ${status}, expected ${expected_status}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
  set(last_error "${err}" PARENT_SCOPE)
endfunction()

file(WRITE ${DIR}/utc.csv "timestamp,p1\n2026-12-07T09:15:30.000Z,1\n2026-12-07T09:15:30.250Z,2\n2026-12-07T09:15:30.500Z,3\n")
rvx(1 import utc.csv -o refused.rvx)
if(NOT last_error MATCHES "gives a UTC offset" OR EXISTS ${DIR}/refused.rvx)
  message(FATAL_ERROR "an offset without --tz was not refused:\n${last_error}")
endif()
rvx(0 import utc.csv -o run.rvx --tz +01:00)
if(NOT last_output MATCHES "every 0.25 s, dated 07.12.2026 10:15:30")
  message(FATAL_ERROR "import --tz +01:00 made:\n${last_output}")
endif()
rvx(0 export run.rvx -o run.csv --time absolute --tz=-0530)
file(READ ${DIR}/run.csv exported HEX)
set(expected "timestamp,p1\r\n2026-12-07T10:15:30.00-05:30,1\r\n2026-12-07T10:15:30.25-05:30,2\r\n2026-12-07T10:15:30.50-05:30,3\r\n")
string(HEX "${expected}" expected)
if(NOT exported STREQUAL expected)
  file(READ ${DIR}/run.csv exported)
  message(FATAL_ERROR "export --time absolute --tz -0530 wrote:\n${exported}")
endif()
rvx(0 export run.rvx --time absolute --tz local)
if(WINDOWS)
  rvx(2 export run.rvx --time absolute --tz Europe/Berlin)
  if(NOT last_error MATCHES "Windows gives rvx no database of zone names")
    message(FATAL_ERROR "a zone name on Windows:\n${last_error}")
  endif()
endif()
