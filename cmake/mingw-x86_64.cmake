# Cross toolchain for the 64-bit Windows module (ifzvk.sph).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZVK_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
