# rvx.exe under the emulator, once round every subcommand on the demo's
# files: exit statuses, a few outputs, and an export-import-export round
# trip that must give the same CSV.
#   cmake -DRVX=<rvx.exe> -DEMULATOR=<wine or empty> -DDIR=<work dir> -DVERSION=<x.y.z>
#         -DMATLAB=<built with it: 1 or empty> -DHDF5=<1 or empty> -P round_trip.cmake
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

rvx(0 repair copy.rvx -o repaired.rvx)
rvx(0 repair repaired.rvx)
expect_output("nothing to repair")

rvx(0 cut demo/demo.rvx -o window.rvx --from 2 --to 2.5)
rvx(0 select window.rvx -o two.rvx --channels T1,p1)
rvx(0 merge two.rvx two.rvx -o twice.rvx)
rvx(0 info twice.rvx)
expect_output("Records +1002")
set(extension_MATLAB mat)
set(extension_HDF5 h5)
foreach(format IN ITEMS MATLAB HDF5)
  if(${format})
    rvx(0 export two.rvx -o two.${extension_${format}})
  else()
    rvx(1 export two.rvx -o two.${extension_${format}})
    if(NOT last_error MATCHES "this rvx was built without ${format} export")
      message(FATAL_ERROR "export to ${format} without it: ${last_error}")
    endif()
  endif()
endforeach()
