# Compares the functions that a built library exports with the functions
# that the public header declares: both lists must be the same.
#   cmake -DHEADER=... -DSYMBOLS=<file with one exported name per line> -P
#   or -DLIBRARY=<shared library> -DNM=<nm> to list the exports with nm.
file(READ "${HEADER}" header)
string(REGEX MATCHALL "KDRVX_[A-Za-z0-9_]+[ \t]*\\(" declared "${header}")
list(TRANSFORM declared REPLACE "[ \t]*\\($" "")
list(REMOVE_DUPLICATES declared)
list(SORT declared)

if(DEFINED LIBRARY)
  execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" entries "${listing}")
  set(exported "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" "\\1;\\2" parts "${entry}")
    list(GET parts 1 name)
    string(REGEX REPLACE "@.*$" "" name "${name}")
    list(APPEND exported "${name}")
  endforeach()
else()
  file(STRINGS "${SYMBOLS}" exported)
endif()
list(REMOVE_DUPLICATES exported)
list(SORT exported)

if(NOT exported STREQUAL declared)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${declared})
  set(missing ${declared})
  list(REMOVE_ITEM missing ${exported})
  message(FATAL_ERROR "exports differ from the header\n  exported, not declared: ${extra}\n  declared, not exported: ${missing}")
endif()
list(LENGTH declared count)
message(STATUS "exports match the header: ${count} functions")
