# Third-party code comes from Debian's packages only.
#  - zlib: zlib1g-dev natively, the static library of libz-mingw-w64-dev for Windows.
#  - TinyXML 2.6.2: libtinyxml-dev natively; for Windows, Debian's source package
#    of the same version, fetched into the build tree and compiled here.
#  - Boost (header-only lexical_cast): Debian's headers; the cross build sees them
#    through a folder that holds only a link to /usr/include/boost.

if(WIN32)
  find_library(ZVK_ZLIB_LIB NAMES libz.a z REQUIRED)
  find_path(ZVK_ZLIB_INCLUDE zlib.h REQUIRED)
  add_library(zvk_zlib INTERFACE)
  target_link_libraries(zvk_zlib INTERFACE ${ZVK_ZLIB_LIB})
  target_include_directories(zvk_zlib INTERFACE ${ZVK_ZLIB_INCLUDE})
else()
  find_package(ZLIB REQUIRED)
  add_library(zvk_zlib INTERFACE)
  target_link_libraries(zvk_zlib INTERFACE ZLIB::ZLIB)
endif()

# The fuzz build compiles TinyXML too, so that the sanitizers and the
# fuzzer's coverage reach into the parser.
option(ZVK_TINYXML_FROM_SOURCE "Compile Debian's TinyXML source package instead of linking libtinyxml" OFF)
if(WIN32 OR ZVK_TINYXML_FROM_SOURCE)
  include(${CMAKE_CURRENT_LIST_DIR}/TinyXmlSource.cmake)
else()
  find_path(ZVK_TINYXML_INCLUDE tinyxml.h REQUIRED)
  find_library(ZVK_TINYXML_LIB NAMES tinyxml REQUIRED)
  add_library(zvk_tinyxml INTERFACE)
  target_include_directories(zvk_tinyxml INTERFACE ${ZVK_TINYXML_INCLUDE})
  target_link_libraries(zvk_tinyxml INTERFACE ${ZVK_TINYXML_LIB})
  target_compile_definitions(zvk_tinyxml INTERFACE TIXML_USE_STL)
endif()

add_library(zvk_boost INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_boost_dir ${CMAKE_BINARY_DIR}/boost-include)
  file(MAKE_DIRECTORY ${_boost_dir})
  if(NOT EXISTS /usr/include/boost/lexical_cast.hpp)
    message(FATAL_ERROR "Boost headers not found: install libboost-dev")
  endif()
  file(CREATE_LINK /usr/include/boost ${_boost_dir}/boost SYMBOLIC)
  target_include_directories(zvk_boost SYSTEM INTERFACE ${_boost_dir})
else()
  find_path(ZVK_BOOST_INCLUDE boost/lexical_cast.hpp REQUIRED)
  target_include_directories(zvk_boost SYSTEM INTERFACE ${ZVK_BOOST_INCLUDE})
endif()
