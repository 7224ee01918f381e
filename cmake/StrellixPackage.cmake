# The installed files beyond the programs and libraries (man pages, shell
# completion, licence), and the Debian packages made of them: `cpack -G
# DEB` in the build tree, or tools/make_package.sh, writes them into
# packages/:
#
#   strellix          (component runtime) the programs, their man pages and
#                     bash completion
#   libstrellix1      (component library) the shared library
#   libstrellix-dev   (component dev) header, static library, linker name,
#                     CMake package and strellix.pc
#   python3-strellix  (component python) the Python module
#
# The programs and the module hold the engine themselves; only programs
# built on the library load the shared one, and only building them needs
# the headers (and OpenCV's, which -dev pulls in).
include(cmake/StrellixManPages.cmake)

# What `cmake --install` and cpack take, so that an install can build that
# alone: `cmake --build build --target installable`.
add_custom_target(installable)
add_dependencies(installable Strellixplus strellix_cli strellix strellix_static)
foreach(part strellix_python strellix_man_pages)
  if(TARGET ${part})
    add_dependencies(installable ${part})
  endif()
endforeach()

install(FILES packaging/strellix.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME strellix COMPONENT runtime)
# A plain install keeps the licence in one place; each package has its own
# copy below instead.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# Once installed into a system prefix, the shared library is in the loader's
# cache; elsewhere the install says how to reach it.
install(CODE "set(STRELLIX_INSTALLED_LIBRARY \"${CMAKE_INSTALL_LIBDIR}/$<TARGET_SONAME_FILE_NAME:strellix>\")"
        COMPONENT library)
install(SCRIPT cmake/StrellixLoaderCache.cmake COMPONENT library)

set(STRELLIX_PACKAGE_MAINTAINER "Strellixplus maintainers <maintainers@strellixplus.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")
# SOURCE_DATE_EPOCH, when set, gives the changelog's date (reproducible packages).
string(TIMESTAMP strellix_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(strellix_packages runtime strellix library libstrellix${PROJECT_VERSION_MAJOR} dev libstrellix-dev)
if(TARGET strellix_python)
  list(APPEND strellix_packages python python3-strellix)
endif()
set(CPACK_COMPONENTS_ALL)
set(strellix_changelogs)
while(strellix_packages)
  list(POP_FRONT strellix_packages component package)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  # Debian wants a licence and a changelog in each package's documents; a
  # plain install takes neither (EXCLUDE_FROM_ALL), cpack installs by component.
  set(changelog ${CMAKE_BINARY_DIR}/packaging/${package}/changelog)
  configure_file(packaging/changelog.in ${changelog} @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz COMMAND gzip -9nkf ${changelog} DEPENDS ${changelog} VERBATIM)
  list(APPEND strellix_changelogs ${changelog}.gz)
  install(FILES packaging/copyright ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()
add_custom_target(strellix_changelogs ALL DEPENDS ${strellix_changelogs})
add_dependencies(installable strellix_changelogs)

set(CPACK_PACKAGE_NAME strellix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "${STRELLIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STRELLIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: the packages of the libraries each binary loads (dpkg-shlibdeps),
# and below what the files need beyond those.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shared library's soname in a shlibs file, for the packages of programs
# linked to it; the loader's cache updated by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/triggers)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION video)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "background subtraction for video with a layered background model
strellix finds the moving objects of a video, an image sequence, a camera or
a stream and writes a binary mask per frame; it also scores masks against a
ground truth, and tells what a run needs before it starts. Strellixplus is the
reference program.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "background subtraction with a layered background model: shared library
libstrellix runs the engine of the strellix programs for other programs: the
same masks, byte for byte.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstrellix${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), libopencv-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "background subtraction with a layered background model: development files
The C++ header of libstrellix, the static library, the CMake package
(find_package(Strellix)) and the pkg-config file strellix.pc.")

if(TARGET strellix_python)
  # The module is built for one version of the interpreter (3.11: >= 3.11,
  # << 3.12), and takes numpy arrays.
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" strellix_python_abi "${strellix_python_version}")
  math(EXPR strellix_python_next "${CMAKE_MATCH_2} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${strellix_python_abi}), python3 (<< ${CMAKE_MATCH_1}.${strellix_python_next}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-opencv)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "background subtraction with a layered background model: Python module
The module strellix takes numpy frames (as cv2 reads them) and gives numpy
masks, byte for byte those of the strellix programs.")
endif()

include(CPack)

if(STRELLIX_TESTS)
  add_test(NAME Package.BashCompletion
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/test_completion.sh
                   ${CMAKE_SOURCE_DIR}/packaging/strellix.bash-completion $<TARGET_FILE:strellix_cli>)
endif()
