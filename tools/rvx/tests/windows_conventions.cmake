# rvx.exe under the emulator with the conventions of Windows: paths that a
# compact recording's RVI file cannot show, wildcards in file arguments,
# devices and reserved names as outputs, files that another program holds,
# the \\?\ prefix of outputs, and one line ending on stderr.
#   cmake -DRVX=<rvx.exe> -DHOLD=<rvx_hold_file.exe> -DEMULATOR=<wine> -DDIR=<work dir>
#         -P windows_conventions.cmake
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/sub)

function(run expected_status)
  execute_process(COMMAND ${EMULATOR} ${ARGN}
                  WORKING_DIRECTORY ${DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "${ARGN}: exit ${status}, expected ${expected_status}\n${out}\n${err}")
  endif()
  if(err MATCHES "system error [0-9]")
    message(FATAL_ERROR "${ARGN}: a bare system error number:\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
  set(last_error "${err}" PARENT_SCOPE)
endfunction()
function(rvx expected_status)
  run(${expected_status} ${RVX} ${ARGN})
  set(last_output "${last_output}" PARENT_SCOPE)
  set(last_error "${last_error}" PARENT_SCOPE)
endfunction()
function(expect text where)
  if(NOT "${${where}}" MATCHES "${text}")
    message(FATAL_ERROR "expected '${text}' in:\n${${where}}")
  endif()
endfunction()

file(WRITE ${DIR}/in.csv "t,p1\n0,1\n0.001,2\n")
rvx(0 import in.csv -o b.rvx --date 07.12.2026 --time 09:15)
file(COPY_FILE ${DIR}/b.rvx ${DIR}/a.rvx)
file(COPY_FILE ${DIR}/b.rvx ${DIR}/sub/c.RVX)

# A compact recording's RVI file shows its path as 8-bit text, in a
# directory line and a file-name line: what they cannot show is refused
# before anything is written.
file(MAKE_DIRECTORY "${DIR}/€uro")
rvx(2 import in.csv -o "€uro\\Mess😀.rvx" --legacy --trigger-setting y)
expect("the path: the RVI file's directory line holds 8-bit text \\(Latin-1\\) only: '€' at character 1 of '€uro'" last_error)
rvx(2 import in.csv -o "Mess😀.rvx" --legacy --trigger-setting y)
expect("the RVI file's file-name line holds 8-bit text \\(Latin-1\\) only: '😀' at character 5 of 'Mess😀.RVI'" last_error)
file(GLOB made "${DIR}/Mess*" "${DIR}/€uro/*")
if(made)
  message(FATAL_ERROR "a refused recording left ${made}")
endif()

# Wildcards: expanded in the order of the names, letters in either case,
# with their directory; a pattern that matches nothing is named.
rvx(0 check *.rvx)
expect("^a.rvx: .*a.rvx: no findings\n.*b.rvx: no findings\nrvx check: 2 files" last_output)
rvx(0 info ?.RVX sub\\*.rvx --json)
expect("\"file\": \"a.rvx\".*\"file\": \"b.rvx\".*\"file\": \"sub.+c.RVX\"" last_output)
expect("rvx info: 3 files: 3 read\n$" last_error)
if(last_error MATCHES "\r")
  message(FATAL_ERROR "a CR on stderr:\n${last_error}")
endif()
rvx(1 export x*.rvx)
expect("x\\*.rvx: .*no file matches this pattern" last_error)

# NUL takes any output as /dev/null does; the console is CON; the other
# reserved names name no file.
rvx(0 export a.rvx -o NUL)
rvx(1 convert a.rvx -o NUL)
expect("NUL: is not a regular file" last_error)
execute_process(COMMAND ${EMULATOR} ${RVX} export a.rvx -o CON WORKING_DIRECTORY ${DIR}
                RESULT_VARIABLE status ERROR_VARIABLE last_error)
if(NOT status EQUAL 0)
  expect("CON: rvx has no console to write to here" last_error)
endif()
foreach(reserved aux.rvx sub/com1.csv)
  rvx(1 export a.rvx -o ${reserved})
  expect("the name is reserved by the system" last_error)
endforeach()
rvx(1 import in.csv -o Prn.rvx)
expect("Prn.rvx: the name is reserved by the system \\(for the device PRN\\)" last_error)

# A file that another program holds is in use, for every command: held
# without sharing, and held by one that lets others read and write it but
# not replace it.
file(READ ${DIR}/a.rvx before HEX)
foreach(held "none;check;a.rvx" "none;modify;a.rvx;--name;x" "none;repair;a.rvx"
             "none;repair;a.rvx;-o;a.rvx;-f" "none;export;b.rvx;-o;a.rvx;-f"
             "read-write;export;b.rvx;-o;a.rvx;-f")
  list(POP_FRONT held share)
  execute_process(COMMAND ${EMULATOR} ${HOLD} ${share} a.rvx ${RVX} ${held}
                  WORKING_DIRECTORY ${DIR} OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT "${out}${err}" MATCHES "a.rvx: .*in use by another program")
    message(FATAL_ERROR "${held} of a file held (${share}):\n${out}\n${err}")
  endif()
endforeach()
file(READ ${DIR}/a.rvx after HEX)
if(NOT before STREQUAL after)
  message(FATAL_ERROR "a held file was changed")
endif()

# Outputs with the \\?\ prefix, which inputs already take.
run(0 cmd /c cd)
string(STRIP "${last_output}" here)
rvx(0 export "\\\\?\\${here}\\a.rvx" -o "\\\\?\\${here}\\long.csv")
rvx(0 import in.csv -o "\\\\?\\${here}\\long.rvx" --date 07.12.2026 --time 09:15)
if(NOT EXISTS ${DIR}/long.csv OR NOT EXISTS ${DIR}/long.rvx)
  message(FATAL_ERROR "no output through the \\\\?\\ prefix")
endif()
string(REPEAT "n" 260 long)
rvx(1 export a.rvx -o "\\\\?\\${here}\\${long}.csv")
expect("the path is longer than the 259 characters that the library takes" last_error)
