# The README's example of many recordings at once (hosts/channel_means.c):
# the README shows it verbatim, and run on two recordings of different record
# kinds, which the test recordings' command writes, it prints their means.
#   cmake -DEXAMPLE=channel_means -DMAKER=make_test_recording [-DEMULATOR=wine]
#         -DWORK=<scratch dir> -DSOURCE=channel_means.c -DREADME=README.md
#         -P channel_means.cmake
file(READ ${README} readme)
file(READ ${SOURCE} program)
string(FIND "${readme}" "```c\n${program}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README does not show ${SOURCE} verbatim")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/recordings.json [=[{
  "a.rvx": [{"header": {"layout": "current", "version": "s", "channels": [
              {"letter": "p", "index": 1, "unit": "bar"}, {"letter": "T", "index": 2, "unit": "K"}]}},
            {"floats": [[1, 290], [2, 292], [6, 300]]}],
  "b.rvx": [{"header": {"layout": "dos4", "channels": [{"letter": "p", "code": 1}]}},
            {"decimals": [[[15, 1]], [[250, 2]], [[-5, 0]]]}]
}]=])
execute_process(COMMAND ${EMULATOR} ${MAKER} -d ${WORK} INPUT_FILE ${WORK}/recordings.json
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${MAKER} failed")
endif()
execute_process(COMMAND ${EMULATOR} ${EXAMPLE} a.rvx b.rvx WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE out RESULT_VARIABLE failed)
string(REPLACE "\r\n" "\n" out "${out}")
set(expected "a.rvx: 3 records\n  p1 [bar] 3\n  T2 [K] 294\nb.rvx: 3 records\n  p1 [] -0.333333\n")
if(failed OR NOT out STREQUAL expected)
  message(FATAL_ERROR "${EXAMPLE} (${failed}) printed:\n${out}\ninstead of:\n${expected}")
endif()
