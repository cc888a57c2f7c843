# Cross toolchain for the 64-bit Windows module (ifzvk.sph).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZVK_TRIPLET x86_64-w64-mingw32)
# The -posix variants: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${ZVK_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZVK_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZVK_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZVK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The runtime is linked in, so the module and the test programs import system DLLs only.
set(_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static}")
# 64-bit programs need a 64-bit Wine prefix. The default one may be 32-bit
# only (it is when wine32 ran before wine64 was installed), so this build
# keeps its own prefix in the build tree, made on the first run (about ten
# seconds). It never downloads Mono or Gecko: nothing here needs them.
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefixed.sh ${CMAKE_BINARY_DIR}/wine64-prefix)
