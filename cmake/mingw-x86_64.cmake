# 64-bit Windows, the same sources run under wine64 by the tests.
set(FERRYLINE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
