# MinGW-w64 x86_64, posix thread model: a test vehicle only (see QUARRY_WINE64).
set(QUARRY_MINGW_ARCH x86_64)
set(QUARRY_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
