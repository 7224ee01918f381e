# The tests of the batch workflow (workflow/Snakefile): a small batch on local
# cores, batch files refused before any job, a sweep and its summary page in
# a browser, and a batch through a single-node Slurm the test starts and stops.
# They run snakemake with the interpreter Debian's snakemake belongs to, and
# the strellix just built; in a sanitizer build that program is instrumented,
# while snakemake and Slurm are not (so nothing is preloaded into them).
if(NOT STRELLIX_TESTS)
  return()
endif()
set(STRELLIX_WORKFLOW_PYTHON /usr/bin/python3 CACHE FILEPATH "The interpreter snakemake runs on")
execute_process(COMMAND "${STRELLIX_WORKFLOW_PYTHON}" -c "import snakemake, pytest, yaml, matplotlib"
                RESULT_VARIABLE strellix_no_snakemake OUTPUT_QUIET ERROR_QUIET)
if(strellix_no_snakemake)
  message(WARNING "Workflow tests: not added: ${STRELLIX_WORKFLOW_PYTHON} cannot import snakemake, pytest, "
                  "yaml and matplotlib (Debian: apt-get install snakemake python3-pytest python3-matplotlib)")
  return()
endif()
set(strellix_workflow_test_env "STRELLIX_CLI=$<TARGET_FILE:strellix_cli>" "STRELLIX_TOOLS_DIR=${CMAKE_BINARY_DIR}"
                               "STRELLIX_SOURCE_DIR=${CMAKE_SOURCE_DIR}" PYTHONDONTWRITEBYTECODE=1)
if(STRELLIX_SANITIZE)
  list(APPEND strellix_workflow_test_env STRELLIX_SANITIZED=1)
endif()
foreach(name batch batch_file sweep slurm)
  add_test(NAME Workflow.${name} COMMAND "${STRELLIX_WORKFLOW_PYTHON}" -m pytest -q -p no:cacheprovider
                                         ${CMAKE_SOURCE_DIR}/tests/workflow/test_${name}.py)
  set_tests_properties(Workflow.${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "${strellix_workflow_test_env}")
endforeach()
