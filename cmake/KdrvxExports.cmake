# The functions that the public header declares: every KDRVX_ name followed
# by an opening parenthesis.
function(kdrvx_declared_functions header result)
  file(READ "${header}" text)
  string(REGEX MATCHALL "KDRVX_[A-Za-z0-9_]+[ \t]*\\(" names "${text}")
  list(TRANSFORM names REPLACE "[ \t]*\\($" "")
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(${result} ${names} PARENT_SCOPE)
endfunction()
