# The Python module `strellix` (pybind11 and numpy), its install place and
# its tests.
#
# STRELLIX_PYTHON: AUTO (default) builds the module when an interpreter with
# numpy, its headers and pybind11 are found, and says why not otherwise; ON
# requires them (and pytest for the tests); OFF leaves the module out.
#
# The interpreter: Python3_EXECUTABLE when given (it must import numpy),
# otherwise the first of `python3` on PATH and /usr/bin/python3 that
# imports numpy. A pyenv, conda or venv interpreter first on PATH is taken
# only when it has numpy.
set(STRELLIX_PYTHON AUTO CACHE STRING "Build the Python module: AUTO, ON or OFF")
set_property(CACHE STRELLIX_PYTHON PROPERTY STRINGS AUTO ON OFF)

if(STRELLIX_PYTHON STREQUAL "AUTO")
  set(strellix_python_required FALSE)
elseif(STRELLIX_PYTHON)
  set(strellix_python_required TRUE)
else()
  message(STATUS "Python module: not built (STRELLIX_PYTHON=${STRELLIX_PYTHON})")
  return()
endif()

# Without the module the rest of the build goes on, unless it was asked for.
macro(strellix_python_unavailable reason)
  if(strellix_python_required)
    message(FATAL_ERROR "Python module: ${reason}")
  endif()
  message(WARNING "Python module: not built: ${reason} (-DSTRELLIX_PYTHON=OFF silences this)")
  return()
endmacro()

# Sets `out` to "PYTHON_VERSION;NUMPY_VERSION" when `interpreter` runs and
# imports numpy, and to "" otherwise.
function(strellix_probe_python interpreter out)
  execute_process(
    COMMAND "${interpreter}" -c
            "import sys, numpy; print('%d.%d.%d;%s' % (sys.version_info[:3] + (numpy.__version__,)))"
    RESULT_VARIABLE status OUTPUT_VARIABLE found ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    set(found "")
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

if(Python3_EXECUTABLE)
  strellix_probe_python("${Python3_EXECUTABLE}" strellix_python_probe)
  if(NOT strellix_python_probe)
    message(FATAL_ERROR "Python module: the interpreter ${Python3_EXECUTABLE} (Python3_EXECUTABLE) cannot "
                        "import numpy. Install numpy for it (Debian's /usr/bin/python3: apt-get install "
                        "python3-numpy), or name another interpreter with -DPython3_EXECUTABLE=...")
  endif()
else()
  find_program(strellix_python_on_path NAMES python3)
  set(strellix_python_candidates ${strellix_python_on_path} /usr/bin/python3)
  unset(strellix_python_on_path CACHE)
  list(REMOVE_DUPLICATES strellix_python_candidates)
  foreach(candidate ${strellix_python_candidates})
    strellix_probe_python("${candidate}" strellix_python_probe)
    if(strellix_python_probe)
      set(Python3_EXECUTABLE "${candidate}" CACHE FILEPATH "The Python interpreter the module is built for")
      break()
    endif()
  endforeach()
  if(NOT strellix_python_probe)
    string(REPLACE ";" ", " tried "${strellix_python_candidates}")
    strellix_python_unavailable("no interpreter with numpy (tried ${tried}); install python3-numpy, or name "
                                "one with -DPython3_EXECUTABLE=...")
  endif()
endif()
list(GET strellix_python_probe 0 strellix_python_version)
list(GET strellix_python_probe 1 strellix_numpy_version)

find_package(Python3 COMPONENTS Interpreter Development.Module)
if(NOT Python3_Development.Module_FOUND)
  strellix_python_unavailable("no C headers for Python ${strellix_python_version} (${Python3_EXECUTABLE}); "
                              "for Debian's interpreter: apt-get install python3-dev")
endif()
find_package(pybind11 2.6 CONFIG QUIET)
if(NOT pybind11_FOUND)
  strellix_python_unavailable("pybind11 not found; on Debian: apt-get install pybind11-dev")
endif()

# Built like the library (NO_EXTRAS: no link-time optimisation, no strip).
pybind11_add_module(strellix_python MODULE NO_EXTRAS python/strellix_module.cpp python/shared_subtractor.cpp
                    python/frame_arrays.cpp python/parameter_args.cpp python/opencv_style.cpp)
target_link_libraries(strellix_python PRIVATE strellix_static)
set_target_properties(strellix_python PROPERTIES OUTPUT_NAME strellix LIBRARY_OUTPUT_DIRECTORY
                                                                      ${CMAKE_BINARY_DIR}/python)

# Where the interpreter looks under the install prefix: on Debian
# lib/python3.X/dist-packages for /usr/local, in a venv or conda prefix its
# site-packages. Relative, so that `cmake --install --prefix` moves it too.
if(STRELLIX_PYTHON_INSTALL_DIR)
  set(strellix_python_site "${STRELLIX_PYTHON_INSTALL_DIR}")
else()
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" -c "
import os, site, sys, sysconfig
prefix = os.path.realpath(sys.argv[1])
for d in site.getsitepackages():
    if os.path.realpath(d).startswith(prefix + os.sep):
        print(os.path.relpath(os.path.realpath(d), prefix)); break
else:
    print(os.path.relpath(sysconfig.get_path('platlib', 'posix_prefix', {'base': prefix, 'platbase': prefix}), prefix))
" "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE strellix_python_site OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
install(TARGETS strellix_python LIBRARY DESTINATION "${strellix_python_site}" COMPONENT python_site)
# The Debian package installs under /usr, where Debian's interpreter keeps
# the modules of its packages (lib/python3/dist-packages) apart from those
# installed by hand; only cpack takes this rule (EXCLUDE_FROM_ALL).
execute_process(
  COMMAND "${Python3_EXECUTABLE}" -c "
import os, sysconfig
if 'deb_system' in sysconfig.get_scheme_names():
    print(os.path.relpath(sysconfig.get_path('platlib', 'deb_system', {'base': '/usr', 'platbase': '/usr'}), '/usr'))
"
  OUTPUT_VARIABLE strellix_python_package_site OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT strellix_python_package_site)
  set(strellix_python_package_site "${strellix_python_site}")
endif()
install(TARGETS strellix_python LIBRARY DESTINATION "${strellix_python_package_site}" COMPONENT python
        EXCLUDE_FROM_ALL)
message(STATUS "Python module: built for ${Python3_EXECUTABLE} (Python ${strellix_python_version}, "
               "numpy ${strellix_numpy_version}); installs into ${CMAKE_INSTALL_PREFIX}/${strellix_python_site}")

if(NOT STRELLIX_TESTS)
  return()
endif()
execute_process(COMMAND "${Python3_EXECUTABLE}" -c "import pytest" RESULT_VARIABLE strellix_no_pytest
                OUTPUT_QUIET ERROR_QUIET)
if(strellix_no_pytest)
  set(reason "${Python3_EXECUTABLE} cannot import pytest (Debian: apt-get install python3-pytest)")
  if(strellix_python_required)
    message(FATAL_ERROR "Python tests: ${reason}")
  endif()
  message(WARNING "Python tests: not added: ${reason}")
  return()
endif()

# The tests find the module, the program and the tools through these.
set(strellix_python_test_env
    "PYTHONPATH=${CMAKE_BINARY_DIR}/python" PYTHONDONTWRITEBYTECODE=1
    "STRELLIX_PROGRAM=$<TARGET_FILE:Strellixplus>" "STRELLIX_TOOLS_DIR=${CMAKE_BINARY_DIR}"
    "STRELLIX_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "STRELLIX_SHARED_DATA=${CMAKE_SOURCE_DIR}/../shared/data")
# An instrumented module loads into the plain interpreter only with the
# sanitizer runtimes loaded first. The interpreter's own allocations are
# never freed at exit, so leak detection stays off there.
if(STRELLIX_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(STATUS "Python tests: not run in a sanitizer build with ${CMAKE_CXX_COMPILER_ID}")
    return()
  endif()
  set(strellix_preload "")
  foreach(runtime libasan.so libubsan.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path "${path}" REALPATH)
    list(APPEND strellix_preload "${path}")
  endforeach()
  string(REPLACE ";" ":" strellix_preload "${strellix_preload}")
  list(APPEND strellix_python_test_env "LD_PRELOAD=${strellix_preload}"
       "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
       STRELLIX_SANITIZED=1)
endif()
file(GLOB strellix_python_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/python/test_*.py)
foreach(test_file ${strellix_python_tests})
  get_filename_component(test_name ${test_file} NAME_WE)
  string(REGEX REPLACE "^test_" "" test_name ${test_name})
  add_test(NAME Python.${test_name} COMMAND "${Python3_EXECUTABLE}" -m pytest -q -p no:cacheprovider ${test_file})
  set_tests_properties(Python.${test_name} PROPERTIES ENVIRONMENT "${strellix_python_test_env}" TIMEOUT 600)
endforeach()
