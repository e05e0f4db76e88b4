# The 64-bit Windows runtime, run under Wine for its tests.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
