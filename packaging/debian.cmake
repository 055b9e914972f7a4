# The Debian packages (cpack -G DEB in the package-linux build, whose prefix
# is /usr and which sets KDRVX_DEBIAN_LAYOUT): one per install component.
#   libkdrvx4     the shared library (runtime)
#   libkdrvx-dev  header, development link, CMake package, kdrvx.pc (development)
#   rvx           the command-line tool and its man page (tool)
set(KDRVX_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")

set(runtime_package libkdrvx${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# ldconfig runs through dpkg's trigger. (CPack also writes postinst and postrm
# scripts that call it; lintian warns that they are redundant, nothing worse.)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "library for RVX measurement recordings\n"
    "The KDRVX library reads, creates and modifies RVX files, the recordings of\n"
    "a multi-channel measuring instrument, in every layout the instrument wrote.\n"
    "This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkdrvx-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${runtime_package} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "library for RVX measurement recordings - development files\n"
    "The KDRVX library reads, creates and modifies RVX files, the recordings of\n"
    "a multi-channel measuring instrument.\n"
    "This package holds the C header, the CMake package KDRVX (target\n"
    "KDRVX::kdrvx) and the pkg-config file kdrvx.pc.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME rvx)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION science)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "command-line tool for RVX measurement recordings\n"
    "rvx shows, checks, converts, repairs and modifies RVX files, the\n"
    "recordings of a multi-channel measuring instrument, and exports them to\n"
    "CSV and SVG.")
# rvx's dependency on the library: dpkg-shlibdeps finds the library in the
# build tree but not the shlibs entry of the library's package (built
# alongside), so the dependency is written here as that entry states it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${runtime_package} (>= ${PROJECT_VERSION})")

if(NOT KDRVX_DEBIAN_LAYOUT)
  return()
endif()

# Each package's documentation folder holds its copyright file and its
# changelog, compressed as Debian wants it; the man page is compressed too.
string(TIMESTAMP KDRVX_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP KDRVX_COPYRIGHT_YEAR "%Y" UTC)
set(debian ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(debian/copyright.in ${debian}/copyright @ONLY)
configure_file(debian/changelog.in ${debian}/changelog @ONLY)
function(compress source compressed)
  add_custom_command(OUTPUT ${compressed}
    COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${source} ${compressed}
    DEPENDS ${source} VERBATIM)
endfunction()
compress(${debian}/changelog ${debian}/changelog.gz)
compress(${CMAKE_CURRENT_SOURCE_DIR}/rvx.1 ${debian}/rvx.1.gz)
add_custom_target(debian_documents ALL DEPENDS ${debian}/changelog.gz ${debian}/rvx.1.gz)

install(FILES ${debian}/rvx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${runtime_package} COMPONENT runtime)
foreach(component runtime development tool)
  string(TOUPPER ${component} upper)
  install(FILES ${debian}/copyright ${debian}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
          COMPONENT ${component})
endforeach()
