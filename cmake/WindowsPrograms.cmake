# How the Windows builds run their programs: under Wine, in a prefix of the
# build's own, made on the first run (about ten seconds). A 64-bit build needs
# such a prefix anyway: the default one may be 32-bit only (it is when wine32
# ran before wine64 was installed). Nothing here needs Mono or Gecko, and the
# prefix never asks for them.
#
# Some kernels cannot run 32-bit programs at all. The 32-bit build asks once,
# when it is configured, by starting Wine's 32-bit loader; where that fails,
# its programs are still built and every test that would run one reports
# itself skipped with the reason (zvk_add_program_test).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZVK_WINE_BITS 64)
else()
  set(ZVK_WINE_BITS 32)
endif()
set(ZVK_WINE_RUNNER ${CMAKE_CURRENT_LIST_DIR}/wine-prefixed.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${ZVK_WINE_RUNNER} ${ZVK_WINE_BITS} ${CMAKE_BINARY_DIR}/wine-prefix)

set(ZVK_CANNOT_RUN_PROGRAMS "")
if(ZVK_WINE_BITS EQUAL 32)
  execute_process(COMMAND sh ${ZVK_WINE_RUNNER} --probe-32
                  RESULT_VARIABLE _probe OUTPUT_VARIABLE _why OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_probe EQUAL 1)
    set(ZVK_CANNOT_RUN_PROGRAMS "${_why}")
    message(STATUS "32-bit Windows programs cannot run here; their tests will report themselves skipped: ${_why}")
  elseif(NOT _probe EQUAL 0)
    message(WARNING "${_why}: the 32-bit Windows tests will fail until it is")
  endif()
endif()

# A test that runs this build's programs under Wine; where they cannot run,
# ctest shows it as skipped, with the reason on its one line of output.
# Called as add_test: zvk_add_program_test(NAME COMMAND ...).
function(zvk_add_program_test name)
  # PARSE_ARGV keeps an argument that holds a list (the emulator) whole.
  cmake_parse_arguments(PARSE_ARGV 1 test "" "" "COMMAND")
  if(ZVK_CANNOT_RUN_PROGRAMS)
    add_test(NAME ${name} COMMAND sh ${ZVK_WINE_RUNNER} --skip-32 "${ZVK_CANNOT_RUN_PROGRAMS}")
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  else()
    add_test(NAME ${name} COMMAND ${test_COMMAND})
  endif()
endfunction()
