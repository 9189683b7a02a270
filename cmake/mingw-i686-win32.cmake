# MinGW-w64 i686, win32 thread model.
set(QUARRY_MINGW_ARCH i686)
set(QUARRY_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
