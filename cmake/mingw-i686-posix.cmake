# MinGW-w64 i686, posix thread model.
set(QUARRY_MINGW_ARCH i686)
set(QUARRY_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
