# rvx.exe under the emulator, once round every subcommand on the demo's
# files: exit statuses, a few outputs, and an export-import-export round
# trip that must give the same CSV.
#   cmake -DRVX=<rvx.exe> -DEMULATOR=<wine or empty> -DDIR=<work dir> -DVERSION=<x.y.z>
#         -DPNG=<whether rvx was built with PNG plots> -P round_trip.cmake
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

function(expect_output pattern)
  if(NOT last_output MATCHES "${pattern}")
    message(FATAL_ERROR "output does not match '${pattern}':\n${last_output}")
  endif()
endfunction()

rvx(0 --version)
expect_output("KDrvxLibrary version ${VERSION} Build 061")
rvx(2 info)
rvx(2 export demo/demo.rvx --records 9:1)
rvx(1 info missing.rvx)

rvx(0 demo demo)
rvx(0 info --json demo/demo.rvx)
expect_output("\"records\": 10000")
rvx(0 info demo/demo-compact.rvx)
expect_output("Pumpenprüfstand 3")
rvx(0 check demo/demo.rvx)

rvx(0 export demo/demo.rvx -o first.csv)
rvx(0 import first.csv -o copy.rvx --multichannel M1:8)
rvx(0 export copy.rvx -o second.csv)
file(SHA256 ${DIR}/first.csv first)
file(SHA256 ${DIR}/second.csv second)
if(NOT first STREQUAL second)
  message(FATAL_ERROR "export - import - export changed the CSV")
endif()

rvx(0 convert demo/demo-compact.rvx -o converted.rvx)
rvx(0 modify converted.rvx --name "Renamed")
rvx(0 info converted.rvx)
expect_output("Measurement +Renamed")
rvx(0 plot converted.rvx -o converted.svg --channels p1,dp1)
rvx(0 export converted.rvx -o window.csv --from 2 --to 2.001)
file(STRINGS ${DIR}/window.csv window)
list(LENGTH window lines)
if(NOT lines EQUAL 3)
  message(FATAL_ERROR "export --from 2 --to 2.001 gave ${lines} lines, not a heading and 2 records")
endif()
if(PNG)
  rvx(0 plot converted.rvx -o converted.png --overlay --from 2 --to 3)
else()
  rvx(2 plot converted.rvx -o converted.png)
  if(NOT last_error MATCHES "built without PNG output" OR EXISTS ${DIR}/converted.png)
    message(FATAL_ERROR "rvx without cairo must refuse PNG clearly:\n${last_error}")
  endif()
endif()

rvx(0 repair copy.rvx -o repaired.rvx)
rvx(0 repair repaired.rvx)
expect_output("nothing to repair")
