# Man pages of `strellix`, of each of its subcommands and of `Strellixplus`,
# made by help2man from the programs' own --help at build time, so that a
# page never says what the program no longer does. The parts help2man
# cannot learn from --help come from packaging/*.h2m.
#
# STRELLIX_MAN_PAGES: AUTO (default) makes them when help2man is found, ON
# requires it, OFF leaves them out.
set(STRELLIX_MAN_PAGES AUTO CACHE STRING "Make the man pages with help2man: AUTO, ON or OFF")
set_property(CACHE STRELLIX_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
if(NOT STRELLIX_MAN_PAGES)
  return()
endif()
find_program(STRELLIX_HELP2MAN help2man)
if(NOT STRELLIX_HELP2MAN)
  if(NOT STRELLIX_MAN_PAGES STREQUAL "AUTO")
    message(FATAL_ERROR "Man pages: help2man not found (Debian: apt-get install help2man)")
  endif()
  message(STATUS "Man pages: not made: help2man not found (Debian: apt-get install help2man)")
  return()
endif()

set(strellix_man_dir ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${strellix_man_dir})

# Makes man/<page>.1.gz from `<program> <subcommand> --help`. help2man runs
# one executable, so a subcommand gets a small script that adds its name.
# The version is given rather than asked for: the reference program reads
# any other first argument as a sequence name. Its --help neither waits for
# a key nor opens a window, so this works without a terminal or a display.
function(strellix_man_page page program subcommand summary)
  set(manual ${strellix_man_dir}/${page}.1)
  set(runs $<TARGET_FILE:${program}>)
  if(subcommand)
    set(runs ${strellix_man_dir}/${page})
    file(GENERATE OUTPUT ${runs} CONTENT "#!/bin/sh\nexec '$<TARGET_FILE:${program}>' ${subcommand} \"$@\"\n")
    set(make_runnable COMMAND chmod +x ${runs})
  else()
    set(make_runnable)
  endif()
  set(include_file ${CMAKE_SOURCE_DIR}/packaging/${page}.h2m)
  set(include_option)
  set(include_depends)
  if(EXISTS ${include_file})
    set(include_option --include=${include_file})
    set(include_depends ${include_file})
  endif()
  add_custom_command(
    OUTPUT ${manual}.gz ${make_runnable}
    COMMAND ${STRELLIX_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            "--name=${summary}" ${include_option} --output=${manual} ${runs}
    COMMAND gzip -9nf ${manual}
    DEPENDS ${program} ${include_depends}
    COMMENT "Man page ${page}(1)"
    VERBATIM)
  list(APPEND STRELLIX_MAN_PAGE_FILES ${manual}.gz)
  set(STRELLIX_MAN_PAGE_FILES ${STRELLIX_MAN_PAGE_FILES} PARENT_SCOPE)
endfunction()

set(STRELLIX_MAN_PAGE_FILES)
strellix_man_page(strellix strellix_cli "" "find the moving objects of a video by background subtraction")
strellix_man_page(strellix-segment strellix_cli segment "a mask per frame of a video")
strellix_man_page(strellix-evaluate strellix_cli evaluate "score masks against a ground truth")
strellix_man_page(strellix-probe strellix_cli probe "what a segment run needs before it starts")
strellix_man_page(Strellixplus Strellixplus "" "the reference program of the layered background model")
add_custom_target(strellix_man_pages ALL DEPENDS ${STRELLIX_MAN_PAGE_FILES})
install(FILES ${STRELLIX_MAN_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
