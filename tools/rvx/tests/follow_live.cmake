# rvx follow (under the emulator in the Windows build) while the test
# writer records: once the writer has closed the recording, what follow
# printed is byte for byte what export prints of the finished file.
#   cmake -DRVX=<rvx.exe> -DWRITER=<rvx_live_writer.exe> -DEMULATOR=<wine or empty>
#         -DDIR=<work dir> -P follow_live.cmake
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})

# A pipeline starts both at once (the writer's output, which is empty, is
# the follower's input). The writer waits a second before it creates the
# file, so that the follower, whose start in the emulator takes a moment,
# is there before it, and then records 3000 records in 30 bursts for three
# seconds.
execute_process(COMMAND ${EMULATOR} ${WRITER} live.rvx 3000 100 100 --delay 1000
                COMMAND ${EMULATOR} ${RVX} follow live.rvx --timeout 60
                WORKING_DIRECTORY ${DIR}
                RESULTS_VARIABLE statuses
                OUTPUT_FILE ${DIR}/followed.csv
                ERROR_VARIABLE errors
                TIMEOUT 180)
if(NOT statuses STREQUAL "0;0")
  message(FATAL_ERROR "writer and rvx follow: exit ${statuses}, expected 0;0\n${errors}")
endif()

execute_process(COMMAND ${EMULATOR} ${RVX} export live.rvx -o exported.csv
                WORKING_DIRECTORY ${DIR}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "rvx export of the finished recording: exit ${status}\n${errors}")
endif()
file(STRINGS ${DIR}/exported.csv lines)
list(LENGTH lines count)
if(NOT count EQUAL 3001)
  message(FATAL_ERROR "the finished recording exports ${count} lines, not a heading and 3000 records")
endif()
file(SHA256 ${DIR}/followed.csv followed)
file(SHA256 ${DIR}/exported.csv exported)
if(NOT followed STREQUAL exported)
  message(FATAL_ERROR "rvx follow printed other bytes than rvx export of the finished recording")
endif()
