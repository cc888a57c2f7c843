# Installs the Qt plug-in into a fresh prefix and runs the tests that matter
# to a viewer against that copy alone: Qt lists the zorvik type, and the
# sample reads.
# Arguments: -DBUILD=build folder -DWORK=folder -DCOMPONENT=qt5|qt6 -DFOLDER=Qt's plug-in folder, relative
#            -DTESTS=test program
if(IS_ABSOLUTE "${FOLDER}")
  message("SKIPPED: the plug-in folder ${FOLDER} is absolute; an install would leave the prefix")
  return()
endif()
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component ${COMPONENT}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}): ${err}")
endif()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
if(NOT installed STREQUAL "${FOLDER}/imageformats/libzvk.so")
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${FOLDER}/imageformats/libzvk.so")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_PLUGIN_PATH=${prefix}/${FOLDER}
                        ${TESTS} --gtest_filter=QtPlugin.ListsTheZorvikTypeAndFormat:QtPlugin.SampleGivesTheStoredPreview
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "PASSED  ] 2 tests")
  message(FATAL_ERROR "the installed plug-in failed (${rc}):\n${out}${err}")
endif()
