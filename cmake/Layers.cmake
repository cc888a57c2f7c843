# The system's code is four layers, each a static library that links only the
# layers below it:
#
#   zvk_plugin -> zvk_document -> zvk_image -> zvk_platform
#
# A wrong include fails the build instead of slipping in:
#  - The source folder is on no include path. Each folder that holds headers
#    (a layer, tools/, fuzz/, bench/) gets an include root of its own in the
#    build tree that holds just a link to it, so "document/thumbnail.h" is
#    found only by targets that link zvk_document.
#  - zlib, TinyXML and Boost sit in the system's include folders, where any
#    target would find them. A target names the ones it uses
#    (zvk_third_party_headers); for each of the others it gets a stand-in
#    header ahead of the system's folders that stops its build with a message.

# zvk_link(PATH LINK): LINK is made a symbolic link to PATH, or made again
# when it leads elsewhere (the source folder moved).
function(zvk_link path link)
  set(leads_to "")
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} leads_to)
  endif()
  if(NOT leads_to STREQUAL path)
    file(REMOVE ${link})
    get_filename_component(folder ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${path} ${link} SYMBOLIC)
  endif()
endfunction()

# zvk_include_root(TARGET SCOPE FOLDER): TARGET (and, PUBLIC or INTERFACE,
# whatever links it) includes FOLDER's headers as "FOLDER/...".
function(zvk_include_root target scope folder)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  zvk_link(${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder})
  target_include_directories(${target} ${scope} ${root})
endfunction()

# The header of each third-party library that every include of it reaches
# (Boost's headers all start with boost/config.hpp), and the target to link.
set(_zvk_stand_in_root ${CMAKE_BINARY_DIR}/third-party-stand-ins)
set(_zvk_third_party zlib tinyxml boost)
set(_zvk_header_zlib zlib.h)
set(_zvk_header_tinyxml tinyxml.h)
set(_zvk_header_boost boost/config.hpp)
foreach(library IN LISTS _zvk_third_party)
  file(CONFIGURE OUTPUT ${_zvk_stand_in_root}/${library}/${_zvk_header_${library}} CONTENT
       "#error \"this target does not use ${library}: link zvk_${library} where its headers are needed\"\n")
endforeach()

# zvk_third_party_headers(TARGET [zlib] [tinyxml] [boost]): TARGET's own
# sources include the headers of the libraries named and of no other.
function(zvk_third_party_headers target)
  foreach(library IN LISTS _zvk_third_party)
    if(NOT library IN_LIST ARGN)
      target_include_directories(${target} BEFORE PRIVATE ${_zvk_stand_in_root}/${library})
    endif()
  endforeach()
endfunction()

# zvk_layer(TARGET FOLDER [THIRD_PARTY library...]): the static library of the
# layer in FOLDER; the caller adds its sources and links the layers below.
function(zvk_layer target folder)
  cmake_parse_arguments(PARSE_ARGV 2 layer "" "" "THIRD_PARTY")
  add_library(${target} STATIC)
  zvk_include_root(${target} PUBLIC ${folder})
  zvk_third_party_headers(${target} ${layer_THIRD_PARTY})
  foreach(library IN LISTS layer_THIRD_PARTY)
    target_link_libraries(${target} PRIVATE zvk_${library})
  endforeach()
  target_compile_options(${target} PRIVATE ${ZVK_WARNINGS})
endfunction()
