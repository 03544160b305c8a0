# Cross-builds the Windows updater with mingw-w64 for 32-bit x86: the shipped PE32.
set(QUELLSTORM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
