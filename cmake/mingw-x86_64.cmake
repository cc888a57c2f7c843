# Cross toolchain for the 64-bit Windows module (ifzvk.sph).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZVK_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# 64-bit programs need a 64-bit Wine prefix. The default one may be 32-bit
# only (it is when wine32 ran before wine64 was installed), so this build
# keeps its own prefix in the build tree, made on the first run (about ten
# seconds). It never downloads Mono or Gecko: nothing here needs them.
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-prefixed.sh ${CMAKE_BINARY_DIR}/wine64-prefix)
