# zvk-thumb, and through it the module it loads, under valgrind's memcheck:
# the sample document and the documents the writer makes (zvk-fuzz-seeds, and
# zvk-make's scene, stored and compressed). Any memory error or any leak of
# the process fails the test.
# Arguments: -DVALGRIND=... -DTOOL=zvk-thumb -DSEEDS=zvk-fuzz-seeds -DMAKE=zvk-make
#            -DSAMPLE=examples/sample.zvk -DWORK=folder
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${rc}\n${out}${err}")
  endif()
endfunction()

run(${SEEDS} ${WORK}/seeds)
run(${MAKE} --scene 64 ${WORK}/scene-compressed.zvk)
run(${MAKE} --scene 48 --stored ${WORK}/scene-stored.zvk)
file(GLOB documents ${WORK}/seeds/fuzz_picture/* ${WORK}/scene-*.zvk)
list(PREPEND documents ${SAMPLE})

foreach(document IN LISTS documents)
  get_filename_component(name ${document} NAME)
  # Exit code 99 marks a memcheck finding; the tool's own codes stay apart.
  execute_process(COMMAND ${VALGRIND} --quiet --error-exitcode=99 --leak-check=full
                          --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible
                          ${TOOL} --quiet ${document} ${WORK}/${name}.bmp
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "zvk-thumb under valgrind on ${name}: exit ${rc}\n${out}${err}")
  endif()
  if(NOT EXISTS ${WORK}/${name}.bmp)
    message(FATAL_ERROR "zvk-thumb under valgrind on ${name}: no picture written")
  endif()
  message(STATUS "${name}: no memory error, no leak")
endforeach()
