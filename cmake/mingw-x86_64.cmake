# 64-bit Windows, the same sources run under wine64 by the tests.
set(FERRYLINE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
# ctest runs these programs under wine64.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine64-run)
