# The user-interface tests of the Windows build: real windows, so they run
# under wine with a display (xvfb-run). They sit in the programs' folder,
# beside the language libraries, and load them by bare name as the programs
# do.
file(GLOB ui_test_sources CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/ui_dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_libraries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_programs.cpp)
add_executable(win32_ui_tests ${ui_test_sources})
target_link_libraries(win32_ui_tests PRIVATE win32 shell GTest::gtest GTest::gtest_main)
target_include_directories(win32_ui_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests/resources)
string(REPLACE ";" "," built_libraries "${VELCREST_LANGUAGE_LIBRARIES}")
target_compile_definitions(win32_ui_tests PRIVATE
  VELCREST_LANGUAGE_LIBRARIES="${built_libraries}")
set_target_properties(win32_ui_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR})
add_dependencies(win32_ui_tests ${VELCREST_LANGUAGE_LIBRARIES})
gtest_discover_tests(win32_ui_tests DISCOVERY_TIMEOUT 120
  WORKING_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR}
  PROPERTIES LABELS "windows;display")
