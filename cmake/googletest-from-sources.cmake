# The cross builds have no GoogleTest built for Windows; Debian's googletest
# package ships its sources, which are built here with the cross compiler.
set(VELCREST_GOOGLETEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${VELCREST_GOOGLETEST_SOURCES}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${VELCREST_GOOGLETEST_SOURCES}: run scripts/setup")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)

# GoogleTest is not ours to hold to the project's warnings.
get_directory_property(velcrest_saved_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${VELCREST_GOOGLETEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${velcrest_saved_compile_options}")

# The win32 threading flavour of the cross compiler has no std::mutex, which
# one class of GoogleTest is built on; GoogleTest's hook for platform
# adjustments gives it another (see the header).
foreach(googletest_target gtest gtest_main gmock gmock_main)
  target_include_directories(${googletest_target} BEFORE PUBLIC
                             ${CMAKE_CURRENT_LIST_DIR}/googletest-win32)
endforeach()

# The sources define the names the installed package gives (GTest::gtest,
# GTest::gmock, ...), so the suites link the same way in every build.
