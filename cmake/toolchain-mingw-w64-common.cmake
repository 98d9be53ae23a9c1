# What both Windows cross builds share; the per-target toolchain files set
# VELCREST_MINGW_TRIPLE and include this one.
set(CMAKE_SYSTEM_NAME Windows)
# The Windows headers pick the API generation from this: the programs run on
# Windows XP, so nothing newer may be called directly (optional newer entry
# points are looked up at run time).
set(VELCREST_WINDOWS_TARGET_VERSION 0x0501)

# The win32 threading flavour of the runtime needs no pthreads DLL beside the
# program.
set(CMAKE_C_COMPILER ${VELCREST_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELCREST_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VELCREST_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VELCREST_MINGW_TRIPLE}-ar CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${VELCREST_MINGW_TRIPLE}-ranlib CACHE FILEPATH "archive indexer")
set(CMAKE_OBJDUMP ${VELCREST_MINGW_TRIPLE}-objdump CACHE FILEPATH "object dumper")
set(CMAKE_STRIP ${VELCREST_MINGW_TRIPLE}-strip CACHE FILEPATH "stripper")

set(CMAKE_FIND_ROOT_PATH /usr/${VELCREST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(VELCREST_WINDOWS_VERSION_FLAGS
    "-D_WIN32_WINNT=${VELCREST_WINDOWS_TARGET_VERSION} -DWINVER=${VELCREST_WINDOWS_TARGET_VERSION}")
set(CMAKE_C_FLAGS_INIT "${VELCREST_WINDOWS_VERSION_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VELCREST_WINDOWS_VERSION_FLAGS}")
# Everything the programs need of the compiler's runtime is linked in: a
# Windows machine has the system's DLLs and nothing else.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of the cross build run under wine, in a prefix of the build folder;
# gtest lists a suite's cases when ctest runs, so building needs no wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
