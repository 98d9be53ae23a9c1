# The user-interface tests of the Windows build: real windows, so they run
# under wine with a display (xvfb-run). They sit in the programs' folder,
# beside the language libraries, and load them by bare name as the programs
# do.
add_executable(win32_ui_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_dialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/ui_libraries.cpp)
target_link_libraries(win32_ui_tests PRIVATE win32 shell GTest::gtest GTest::gtest_main)
# The programs themselves, read as files, once they are built.
if(TARGET Velcrest AND TARGET Ardlow)
  target_sources(win32_ui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ui_programs.cpp)
  target_link_libraries(win32_ui_tests PRIVATE version)
  add_dependencies(win32_ui_tests Velcrest Ardlow)
endif()
target_include_directories(win32_ui_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests/resources)
string(REPLACE ";" "," built_libraries "${VELCREST_LANGUAGE_LIBRARIES}")
target_compile_definitions(win32_ui_tests PRIVATE
  VELCREST_LANGUAGE_LIBRARIES="${built_libraries}")
set_target_properties(win32_ui_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR})
add_dependencies(win32_ui_tests ${VELCREST_LANGUAGE_LIBRARIES})
# Windows need a screen: each run gets the display there is or a virtual
# one, and the prefix of the user-interface tests.
set(ui_prefix ${PROJECT_BINARY_DIR}/wineprefix-ui)
set(ui_display_run bash ${CMAKE_CURRENT_LIST_DIR}/ui_display_run --prefix ${ui_prefix})
set_target_properties(win32_ui_tests PROPERTIES CROSSCOMPILING_EMULATOR
  "${ui_display_run};${CMAKE_CROSSCOMPILING_EMULATOR}")
# A library's texts reach its dialogs through the code page of the system
# locale, as they reach the programs' dialogs: each library is checked under
# the locale that makes the programs choose it.
if(VELCREST_TESTS_RUN_HERE)
  gtest_discover_tests(win32_ui_tests DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR}
    TEST_FILTER "-Built/LanguageLibrary.*"
    PROPERTIES LABELS "windows;display")
  foreach(library IN LISTS VELCREST_LANGUAGE_LIBRARIES)
    string(REGEX MATCH "[A-Z]+$" language ${library})
    add_test(NAME ui_library_${library}
      COMMAND ${ui_display_run} --language ${language} ${CMAKE_CROSSCOMPILING_EMULATOR}
        $<TARGET_FILE:win32_ui_tests> --gtest_filter=Built/LanguageLibrary.*/${library})
    set_tests_properties(ui_library_${library} PROPERTIES
      WORKING_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR} LABELS "windows;display")
  endforeach()
endif()

# The programs as a user meets them, with no reader attached: a driver
# starts each one under wine, goes through its dialogs pressing the buttons
# of the plan below, writes down each dialog's texts and takes its picture
# (build/<preset>/ui_pictures). The driver needs the programs' folder, so
# it is built there.
if(TARGET Velcrest AND TARGET Ardlow)
  add_executable(ui_driver ${CMAKE_CURRENT_LIST_DIR}/ui_driver.cpp)
  # The platform's headers through the backend's one way into them.
  target_link_libraries(ui_driver PRIVATE platform comctl32 gdi32)
  set_target_properties(ui_driver PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${VELCREST_WINDOWS_PROGRAM_DIR})
  add_dependencies(ui_driver Velcrest Ardlow ${VELCREST_LANGUAGE_LIBRARIES})

  # program | library prefix | buttons to press (template=button) | dialogs expected in order
  # Velcrest: Continue past the version notice, OK on the start notice, then
  # no removable drive: notice 136, whose OK ends the program.
  # Ardlow: Continue past the version notice, OK in the main dialog; the
  # drive selection finds no reader and shows notice 150.
  set(ui_runs
    "Velcrest|KELDRA_|133=2,134=2,150=1,136=1|133,150,136"
    "Ardlow|FORMAT_|142=2,143=2,102=1,150=1|142,102,150")
  if(VELCREST_TESTS_RUN_HERE)
    foreach(library IN LISTS VELCREST_LANGUAGE_LIBRARIES)
      string(REGEX MATCH "[A-Z]+$" language ${library})
      foreach(run IN LISTS ui_runs)
        string(REPLACE "|" ";" run ${run})
        list(GET run 0 program)
        list(GET run 1 prefix)
        list(GET run 2 buttons)
        list(GET run 3 expected)
        if(NOT library STREQUAL "${prefix}${language}")
          continue()
        endif()
        add_test(NAME ui_driver_${program}_${language}
          COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ui_driver_run
            --emulator ${CMAKE_CROSSCOMPILING_EMULATOR}
            --driver $<TARGET_FILE:ui_driver>
            --program $<TARGET_FILE:${program}>
            --language ${language} --library ${library}.dll
            --press ${buttons} --expect ${expected}
            --pictures ${PROJECT_BINARY_DIR}/ui_pictures
            --prefix ${ui_prefix})
        # One screen for all: a picture must show only the dialog it is of.
        set_tests_properties(ui_driver_${program}_${language} PROPERTIES
          RESOURCE_LOCK ui_screen LABELS "windows;display" TIMEOUT 300)
      endforeach()
    endforeach()
  endif()
endif()
