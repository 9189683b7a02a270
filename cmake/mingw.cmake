# What every MinGW-w64 toolchain file shares. The file that includes this one
# sets QUARRY_MINGW_ARCH (i686, or x86_64 for the test vehicle: see
# QUARRY_WINE64) and QUARRY_MINGW_THREADS (win32 or posix). Everything is
# linked statically so the programs run with no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUARRY_MINGW_ARCH})
set(CMAKE_C_COMPILER ${QUARRY_MINGW_ARCH}-w64-mingw32-gcc-${QUARRY_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${QUARRY_MINGW_ARCH}-w64-mingw32-g++-${QUARRY_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${QUARRY_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARRY_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec.sh)
