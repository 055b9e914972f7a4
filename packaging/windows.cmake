# The Windows release (cpack -G ZIP in the package-windows build), one folder
# named like the archive, KDRVXLibrary-<version>-win64/:
#   bin/KDRVXLibrary.dll, bin/rvx.exe   stripped, each with its version resource
#   lib/KDRVXLibrary.lib                import library for Microsoft's linker
#   lib/libKDRVXLibrary.dll.a           import library for MinGW-w64
#   lib/cmake/KDRVX/, lib/pkgconfig/    CMake package and kdrvx.pc (MinGW-w64)
#   include/kdrvx/kdrvx.h, share/doc/KDRVXLibrary/README.md

# Microsoft's linker takes the short import format that llvm-dlltool writes,
# from the module-definition file that names the DLL's exports.
find_program(KDRVX_DLLTOOL NAMES llvm-dlltool REQUIRED)
set(KDRVX_DEF_FILE ${PROJECT_SOURCE_DIR}/src/exports/KDRVXLibrary.def)
set(KDRVX_MSVC_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/KDRVXLibrary.lib)
add_custom_command(OUTPUT ${KDRVX_MSVC_IMPORT_LIBRARY}
  COMMAND ${KDRVX_DLLTOOL} -m i386:x86-64 -d ${KDRVX_DEF_FILE} -D $<TARGET_FILE_NAME:kdrvx>
          -l ${KDRVX_MSVC_IMPORT_LIBRARY}
  DEPENDS ${KDRVX_DEF_FILE}
  COMMENT "Import library for Microsoft's linker: KDRVXLibrary.lib"
  VERBATIM)
add_custom_target(kdrvx_msvc_import_library ALL DEPENDS ${KDRVX_MSVC_IMPORT_LIBRARY})
install(FILES ${KDRVX_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT development)

set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
