# cmake --install: the module and the host tool; on Linux also the desktop's
# file type for zorvik documents and the thumbnailer that shows their previews
# in file managers (zvk-thumb through the module).
include(GNUInstallDirs)

if(WIN32)
  # Windows viewers and the tool look for the module beside the program.
  set(ZVK_MODULE_INSTALL_DIR ${CMAKE_INSTALL_BINDIR})
else()
  # A plug-in, not a library to link against: a folder of its own.
  set(ZVK_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ifzvk)
endif()
install(TARGETS zvk-thumb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ifzvk LIBRARY DESTINATION ${ZVK_MODULE_INSTALL_DIR})

# The installed tool finds the installed module by the path from its own
# folder to the module's, whatever prefix the install is given.
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE _zvk_bin)
cmake_path(ABSOLUTE_PATH ZVK_MODULE_INSTALL_DIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE _zvk_module)
file(RELATIVE_PATH _zvk_reldir ${_zvk_bin} ${_zvk_module})
if(_zvk_reldir STREQUAL "")
  set(_zvk_reldir .)
endif()
target_compile_definitions(zvk-thumb PRIVATE ZVK_MODULE_RELDIR="${_zvk_reldir}")

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/desktop/ifzvk.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
  install(FILES ${PROJECT_SOURCE_DIR}/desktop/ifzvk.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()
