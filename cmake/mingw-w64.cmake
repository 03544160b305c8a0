# The mingw-w64 cross build for the architecture in QUELLSTORM_MINGW_ARCH
# (i686 or x86_64), shared by the two toolchain files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUELLSTORM_MINGW_ARCH})

set(CMAKE_C_COMPILER ${QUELLSTORM_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${QUELLSTORM_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${QUELLSTORM_MINGW_ARCH}-w64-mingw32-windres)

# Every function in a section of its own, so that the link keeps only what is used.
# Not -fdata-sections: mingw-w64 then puts zero-filled arrays (the 1.4 MB decode
# buffer) into initialised data, stored in the file, instead of .bss.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections")

# Look for libraries and headers only in the target's sysroot; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUELLSTORM_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
