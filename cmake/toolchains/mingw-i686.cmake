# The 32-bit Windows runtime (built and linked; not run on a 64-bit-only machine).
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
