# Builds the two consumer programs of this folder against an installed
# library, as its users would: through the CMake package (CMakeLists.txt) and
# through pkg-config (the README's command). Each reads a recording that the
# installed rvx makes. The README shows both files and the command verbatim.
#
# With BUILD, the tree is first installed into a staging prefix, whose files
# must be those of installed_files.txt, and whose man page must list the
# installed rvx's subcommands. With PREFIX and LIBDIR instead, the consumers
# are built against that tree as it is (the Debian packages unpacked).
# With BUILD and SOURCE, the program is also built with the library's source
# added to its own build (subdirectory/).
#   cmake (-DBUILD=<build tree> -DSOURCE=<source tree> | -DPREFIX=<dir> -DLIBDIR=lib/<multiarch>)
#         -DWORK=<scratch dir>
#         -DVERSION=x.y.z -DC_COMPILER=cc -DGENERATOR=Ninja -DREADME=README.md
#         -P check_consumers.cmake
set(here ${CMAKE_CURRENT_LIST_DIR})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# A package's library lies where the system's loader looks, not under PREFIX:
# there the programs are pointed at it. A staged rvx finds it by itself.
set(run_environment "")
if(NOT DEFINED BUILD)
  set(run_environment LD_LIBRARY_PATH=${PREFIX}/${LIBDIR})
endif()
function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${run_environment} ${ARGN}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

if(DEFINED BUILD)
  set(PREFIX ${WORK}/stage)
  set(LIBDIR lib)
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX})

  # What is installed, and nothing else (no static library, no test program).
  file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
  list(SORT installed)
  list(TRANSFORM installed REPLACE "KDRVXTargets-[a-z]+\\.cmake$" "KDRVXTargets-CONFIG.cmake")
  string(REGEX MATCH "^[0-9]+" major ${VERSION})
  list(TRANSFORM installed REPLACE "\\.so\\.${VERSION}$" ".so.VERSION")
  list(TRANSFORM installed REPLACE "\\.so\\.${major}$" ".so.MAJOR")
  file(STRINGS ${here}/installed_files.txt expected)
  if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " installed "${installed}")
    message(FATAL_ERROR "installed files differ from installed_files.txt:\n  ${installed}")
  endif()

  # The man page names exactly the subcommands of the installed rvx.
  run(${PREFIX}/bin/rvx --help)
  string(REGEX REPLACE "^.*\nSubcommands:\n" "" help "${out}")
  string(REGEX MATCHALL "(^|\n)  [a-z]+" commands "${help}")
  list(TRANSFORM commands REPLACE "^\n?  " "")
  file(STRINGS ${PREFIX}/share/man/man1/rvx.1 manual)
  string(REGEX REPLACE "^.*;\\.SH SUBCOMMANDS;(.*);\\.SH FILES;.*$" "\\1" manual "${manual}")
  list(FILTER manual INCLUDE REGEX "^\\.B [a-z]+$")
  list(TRANSFORM manual REPLACE "^\\.B " "")
  if(NOT manual STREQUAL commands)
    message(FATAL_ERROR "rvx.1 lists the subcommands '${manual}', rvx --help '${commands}'")
  endif()
endif()

# The recording: two channels, two records, through the installed rvx.
file(WRITE ${WORK}/values.csv "time,p1 [bar],T2\n0,1.5,20\n0.001,1.75,21\n")
run(${PREFIX}/bin/rvx import values.csv -o recording.rvx)
set(expected_output "2 records of 2 channels\np1 = 1.5\nT2 = 20\n")

# Through the CMake package, warnings as errors.
run(${CMAKE_COMMAND} -S ${here} -B ${WORK}/cmake -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror"
    -DCMAKE_PREFIX_PATH=${PREFIX})
run(${CMAKE_COMMAND} --build ${WORK}/cmake)
run(${WORK}/cmake/read_recording recording.rvx)
if(NOT out STREQUAL expected_output)
  message(FATAL_ERROR "the CMake consumer printed:\n${out}")
endif()

# With the library's source in the consumer's build (the alias KDRVX::kdrvx;
# neither rvx nor the tests are built there).
if(DEFINED SOURCE)
  run(${CMAKE_COMMAND} -S ${here}/subdirectory -B ${WORK}/subdirectory -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DKDRVX_SOURCE_DIR=${SOURCE})
  run(${CMAKE_COMMAND} --build ${WORK}/subdirectory)
  if(EXISTS ${WORK}/subdirectory/kdrvx/tools OR EXISTS ${WORK}/subdirectory/kdrvx/tests)
    message(FATAL_ERROR "rvx or the tests were configured in the consumer's build")
  endif()
  run(${WORK}/subdirectory/read_recording recording.rvx)
  if(NOT out STREQUAL expected_output)
    message(FATAL_ERROR "the consumer with the library's source printed:\n${out}")
  endif()
endif()

# Through pkg-config, with the README's command.
set(pkg_config_build "cc read_recording.c $(pkg-config --cflags --libs kdrvx) -o read_recording")
file(COPY ${here}/read_recording.c DESTINATION ${WORK})
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${PREFIX}/${LIBDIR}/pkgconfig sh -c "${pkg_config_build}")
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR} ${WORK}/read_recording recording.rvx)
if(NOT out STREQUAL expected_output)
  message(FATAL_ERROR "the pkg-config consumer printed:\n${out}")
endif()

# The README shows what was built here.
file(READ ${README} readme)
file(READ ${here}/CMakeLists.txt cmake_lists)
file(READ ${here}/read_recording.c program)
foreach(shown "```cmake\n${cmake_lists}```" "```c\n${program}```" "${pkg_config_build}\n")
  string(FIND "${readme}" "${shown}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README does not show, verbatim:\n${shown}")
  endif()
endforeach()
message(STATUS "consumers built against ${PREFIX}")
