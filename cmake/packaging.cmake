# What is installed, in three parts that the Debian packages follow:
#   runtime  libvolmirax.so.1 (Linux) or VOLMIRAX.dll     -> libvolmirax1
#   dev      header, import libraries or the .so link, pkg-config and CMake files -> libvolmirax-dev
#   tools    volmirax, devsim, their manual pages         -> volmirax-tools
# and how it is packed: `--target package` makes a zip of everything on
# every platform, and on Linux the three Debian packages (CPack's DEB
# generator, dependencies found by dpkg-shlibdeps and from the parts).
include(GNUInstallDirs)
install(FILES README.md docs/reference.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
if(WIN32)
    # on Linux every package carries the licence as its copyright file
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
endif()

if(NOT WIN32)
    # Debian's own files for each package: the licence as a copyright file,
    # the changelog, the manual pages, all compressed as Debian wants
    # (gzip -9n: no name, no time, the same bytes every time).
    set(_gz ${PROJECT_BINARY_DIR}/packaging)
    set(_compressed)
    foreach(f changelog man/volmirax.1 man/devsim.1)
        get_filename_component(_name ${f} NAME)
        set(_src ${PROJECT_SOURCE_DIR}/packaging/${f})
        if(f STREQUAL "changelog")
            set(_src ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
        endif()
        add_custom_command(OUTPUT ${_gz}/${_name}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${_gz}
            COMMAND gzip -9nc ${_src} > ${_gz}/${_name}.gz
            DEPENDS ${_src})
        list(APPEND _compressed ${_gz}/${_name}.gz)
    endforeach()
    add_custom_target(debian_files ALL DEPENDS ${_compressed})
    install(FILES ${_gz}/volmirax.1.gz ${_gz}/devsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
    foreach(part runtime dev tools)
        set(_package_runtime libvolmirax1)
        set(_package_dev libvolmirax-dev)
        set(_package_tools volmirax-tools)
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_gz}/changelog.gz
                DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package_${part}} COMPONENT ${part})
    endforeach()
endif()

set(CPACK_PACKAGE_NAME volmirax)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The VOLMIRAX developers")
set(CPACK_PACKAGE_CONTACT "The VOLMIRAX developers <volmirax@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive a card device over an RS-232 serial line")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
# the zip holds everything, as one tree
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    math(EXPR _bits "${CMAKE_SIZEOF_VOID_P} * 8")
    set(CPACK_SYSTEM_NAME win${_bits})
else()
    set(CPACK_GENERATOR "ZIP;DEB")
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The VOLMIRAX developers <volmirax@example.org>")
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # the tools' own library, which the tools package gets from libvolmirax1
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
    set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvolmirax1)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
    set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "libvolmirax drives a VOLMIRAX card device (reset, card ejection, version
query, or any raw command) over an RS-232 serial line, with the same
exports and results as VOLMIRAX.dll on Windows.

This package holds the shared library.")
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
    # the library cache by trigger, as Debian does today (CPack writes no
    # ldconfig scripts for a library in the multiarch folder), and the
    # library's symbols with the version that brought each
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers
        ${PROJECT_SOURCE_DIR}/packaging/debian/symbols)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvolmirax-dev)
    set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
    set(CPACK_DEBIAN_DEV_DESCRIPTION "libvolmirax drives a VOLMIRAX card device over an RS-232 serial line.

This package holds the header, the link to the library, and the
pkg-config and CMake files to build against it.")
    set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME volmirax-tools)
    set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_TOOLS_DESCRIPTION "volmirax talks to a VOLMIRAX card device from a shell, sits between a host
and a device to watch and record the line, and reads, lists and draws
recordings of it; devsim plays the device on a pseudo-terminal, also
replaying a recording.")
endif()
include(CPack)
