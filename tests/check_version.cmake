# The project's version (project() in the top CMakeLists.txt) is written
# nowhere else; everything that shows it is derived from it. Fails when any
# of them says otherwise: the header's macros, the shared library's file name
# and SONAME, the text the library reports (through rvx --version), the
# Python package's version, and the version text the README shows.
#   cmake -DVERSION=x.y.z -DHEADER=kdrvx.h -DLIBRARY=libkdrvx.so.x.y.z -DREADELF=readelf
#         -DRVX=rvx -DPYTHON=python3 -DPYTHON_PACKAGE=python -DREADME=README.md
#         -P check_version.cmake
set(failures "")
function(expect what actual expected)
  if(NOT actual STREQUAL expected)
    set(failures "${failures}\n  ${what}: '${actual}', expected '${expected}'" PARENT_SCOPE)
  endif()
endfunction()

string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)

file(STRINGS "${HEADER}" macros REGEX "^#define KDRVX_VERSION_(MAJOR|MINOR|PATCH) ")
list(TRANSFORM macros REPLACE "^#define KDRVX_VERSION_[A-Z]+ +([0-9]+).*$" "\\1")
list(JOIN macros "." header_version)
expect("header macros MAJOR.MINOR.PATCH" "${header_version}" "${VERSION}")

get_filename_component(library_name "${LIBRARY}" NAME)
expect("library file" "${library_name}" "libkdrvx.so.${VERSION}")
execute_process(COMMAND "${READELF}" -d "${LIBRARY}" OUTPUT_VARIABLE dynamic)
string(REGEX MATCH "Library soname: \\[([^]]*)\\]" ignored "${dynamic}")
expect("SONAME" "${CMAKE_MATCH_1}" "libkdrvx.so.${major}")

execute_process(COMMAND "${RVX}" --version OUTPUT_VARIABLE reported
                OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^KDrvxLibrary version ([^ ]*) Build [0-9]+$" ignored "${reported}")
expect("library's version text '${reported}'" "${CMAKE_MATCH_1}" "${VERSION}")

set(print_version
    "import sys; sys.path.insert(0, sys.argv[1]); import kdrvx; print(kdrvx.__version__)")
execute_process(COMMAND "${PYTHON}" -c "${print_version}" "${PYTHON_PACKAGE}"
                OUTPUT_VARIABLE python_version ERROR_VARIABLE python_error
                OUTPUT_STRIP_TRAILING_WHITESPACE)
expect("Python package ${python_error}" "${python_version}" "${VERSION}")

file(STRINGS "${README}" readme_lines REGEX "KDrvxLibrary version ")
foreach(line IN LISTS readme_lines)
  string(REGEX MATCH "\"(KDrvxLibrary version [^\"]*)\"" ignored "${line}")
  expect("README" "${CMAKE_MATCH_1}" "${reported}")
endforeach()

if(failures)
  message(FATAL_ERROR "Not the project's version ${VERSION}:${failures}")
endif()
message(STATUS "version ${VERSION} everywhere")
