# 64-bit Windows: what the tests run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELCREST_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64-common.cmake)
