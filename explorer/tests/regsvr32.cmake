# regsvr32 ifzvk-thumbnail.dll, then the handler test that needs it registered
# (COM creates the handler from the registry), then regsvr32 /u and the test
# that needs no key left. TESTS is zvk_explorer_tests.exe beside HANDLER.
#   cmake -DEMULATOR=... -DHANDLER=... -DTESTS=... -P regsvr32.cmake
function(run what)
  execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0 OR out MATCHES "SKIPPED \\]")
    message(FATAL_ERROR "${what} failed (${code}):\n${out}")
  endif()
  message(STATUS "${what}: done")
endfunction()

# A registration an earlier, interrupted run left goes first.
execute_process(COMMAND ${EMULATOR} regsvr32 /s /u ${HANDLER} OUTPUT_QUIET ERROR_QUIET)
run("regsvr32" regsvr32 /s ${HANDLER})
set(ENV{ZVK_AFTER_REGSVR32} registered)
run("the handler through COM" ${TESTS} --gtest_filter=AfterRegsvr32.TheRegisteredClassMakesThumbnailsThroughCom)
run("regsvr32 /u" regsvr32 /s /u ${HANDLER})
set(ENV{ZVK_AFTER_REGSVR32} removed)
run("no key left" ${TESTS} --gtest_filter=AfterRegsvr32.RemovingLeavesNoKeyBehind)
