# Runs at install time, after the shared library is in place. A program
# linked to it starts only if the loader finds it: in a directory the loader
# searches (ld.so.conf), once its cache is brought up to date. Installed
# there as root, that is done here; otherwise the install says what to do.
# A staged install (DESTDIR; cpack makes the packages so) leaves it to
# whoever installs the stage, as dpkg's ldconfig trigger does for a package.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
set(strellix_library "${CMAKE_INSTALL_PREFIX}/${STRELLIX_INSTALLED_LIBRARY}")
get_filename_component(strellix_library_dir "${strellix_library}" DIRECTORY)
get_filename_component(strellix_library_dir "${strellix_library_dir}" REALPATH)
find_program(strellix_ldconfig ldconfig PATHS /sbin /usr/sbin)
if(NOT strellix_ldconfig)
  return()
endif()

# The directories the loader searches: the ones ldconfig lists as it scans.
execute_process(COMMAND "${strellix_ldconfig}" -v -N -X OUTPUT_VARIABLE strellix_scan ERROR_QUIET)
string(REGEX MATCHALL "(^|\n)/[^:\n]*:" strellix_scanned "${strellix_scan}")
set(strellix_searched FALSE)
foreach(line IN LISTS strellix_scanned)
  string(REGEX REPLACE "^\n?(.*):$" "\\1" dir "${line}")
  get_filename_component(dir "${dir}" REALPATH)
  if(dir STREQUAL strellix_library_dir)
    set(strellix_searched TRUE)
  endif()
endforeach()

if(NOT strellix_searched)
  message(STATUS "The loader does not search ${strellix_library_dir}: a program linked to libstrellix "
                 "starts with LD_LIBRARY_PATH=${strellix_library_dir}, or when linked with "
                 "-Wl,-rpath,${strellix_library_dir}")
  return()
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE strellix_user OUTPUT_STRIP_TRAILING_WHITESPACE)
if(strellix_user STREQUAL "0")
  execute_process(COMMAND "${strellix_ldconfig}" RESULT_VARIABLE strellix_failed)
  if(NOT strellix_failed)
    message(STATUS "Ran ldconfig: the loader finds ${strellix_library}")
    return()
  endif()
endif()
message(WARNING "Run `sudo ldconfig` so that the loader finds ${strellix_library}")
