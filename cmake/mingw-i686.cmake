# Cross toolchain for the 32-bit Windows module (ifzvk.spi).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZVK_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
