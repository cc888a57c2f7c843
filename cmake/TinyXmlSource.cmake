# TinyXML for the Windows builds: Debian's source package (the same 2.6.2 that
# libtinyxml-dev ships natively, with Debian's patches applied), unpacked into
# the build tree at configure time and compiled with the cross toolchain.
set(_tx_root ${CMAKE_BINARY_DIR}/tinyxml-src)
file(GLOB _tx_dirs LIST_DIRECTORIES true ${_tx_root}/tinyxml-*)
if(NOT _tx_dirs)
  file(MAKE_DIRECTORY ${_tx_root})
  message(STATUS "Fetching Debian's tinyxml source package into ${_tx_root}")
  execute_process(COMMAND apt-get source -q tinyxml
                  WORKING_DIRECTORY ${_tx_root}
                  RESULT_VARIABLE _tx_rc OUTPUT_QUIET)
  file(GLOB _tx_dirs LIST_DIRECTORIES true ${_tx_root}/tinyxml-*)
  if(NOT _tx_rc EQUAL 0 OR NOT _tx_dirs)
    message(FATAL_ERROR "apt-get source tinyxml failed: deb-src entries and dpkg-dev are needed (scripts/setup-debian.sh)")
  endif()
endif()
list(GET _tx_dirs 0 _tx_dir)
add_library(zvk_tinyxml_src STATIC
  ${_tx_dir}/tinyxml.cpp ${_tx_dir}/tinyxmlparser.cpp
  ${_tx_dir}/tinyxmlerror.cpp ${_tx_dir}/tinystr.cpp)
target_compile_definitions(zvk_tinyxml_src PUBLIC TIXML_USE_STL)
target_include_directories(zvk_tinyxml_src SYSTEM PUBLIC ${_tx_dir})
target_compile_options(zvk_tinyxml_src PRIVATE -w)
add_library(zvk_tinyxml INTERFACE)
target_link_libraries(zvk_tinyxml INTERFACE zvk_tinyxml_src)
