# 32-bit Windows, the release target: the NT 5 generation is 32-bit.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELCREST_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64-common.cmake)
