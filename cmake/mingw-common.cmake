# What both Windows cross toolchains share; the including file sets
# CMAKE_SYSTEM_PROCESSOR and ZVK_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
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
