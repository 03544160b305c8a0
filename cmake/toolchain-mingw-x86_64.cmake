# Cross-builds the Windows updater with mingw-w64 for x86-64: the same code, runnable under wine64.
set(QUELLSTORM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
