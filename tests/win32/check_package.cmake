# The release package holds exactly what a person needs, where the programs
# look for it: both programs and every language library side by side, the
# end users' README with Windows line ends, firmtool among the tools, and the
# example firmware package in a folder of its own, never beside the update
# program, which would write it to a real reader.
#
#   cmake -DCPACK=... -DCONFIG=CPackConfig.cmake -DWORK=dir -DPACKAGE=name
#         -DBIN=programs' folder -DTOOL=firmtool.exe -DEXAMPLE_FILES=a;b
#         -DEXAMPLE_DIR=name -P check_package.cmake
set(language_codes JPN ENG FRA GER ITA ESP CHS CHT KOR)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${WORK}
                RESULT_VARIABLE packed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(archive ${WORK}/${PACKAGE}.zip)
if(NOT EXISTS ${archive})
  file(GLOB made ${WORK}/*.zip)
  message(FATAL_ERROR "No ${PACKAGE}.zip; cpack made: ${made}")
endif()

set(expected Velcrest.exe Ardlow.exe README.txt tools/firmtool.exe
             "${EXAMPLE_DIR}/THIS IS AN EXAMPLE.txt")
foreach(code IN LISTS language_codes)
  list(APPEND expected KELDRA_${code}.dll FORMAT_${code}.dll)
endforeach()
foreach(file IN LISTS EXAMPLE_FILES)
  get_filename_component(name ${file} NAME)
  list(APPEND expected ${EXAMPLE_DIR}/${name})
endforeach()
list(SORT expected)

set(unpacked ${WORK}/unpacked)
file(MAKE_DIRECTORY ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${unpacked})
set(top ${unpacked}/${PACKAGE})
if(NOT IS_DIRECTORY ${top})
  message(FATAL_ERROR "The package does not unpack into one folder named ${PACKAGE}")
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${top} ${top}/*)
list(SORT found)
if(NOT found STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${found})
  set(extra ${found})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "The package holds the wrong files.\n  missing: ${missing}\n  extra: ${extra}")
endif()

# What is packed is what was built and tested.
foreach(name Velcrest.exe Ardlow.exe KELDRA_ENG.dll FORMAT_JPN.dll)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${BIN}/${name} ${top}/${name}
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${name} in the package is not the one built in ${BIN}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${TOOL} ${top}/tools/firmtool.exe
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "tools/firmtool.exe in the package is not the one built")
endif()

foreach(text README.txt "${EXAMPLE_DIR}/THIS IS AN EXAMPLE.txt")
  # Read as bytes, one per word: text reading drops carriage returns.
  file(READ "${top}/${text}" bytes HEX)
  string(REGEX REPLACE "(..)" " \\1" bytes "${bytes}")
  string(REPLACE " 0d 0a" "" without_windows_line_ends "${bytes}")
  string(FIND "${without_windows_line_ends}" " 0a" bare_line_feed)
  if(bytes STREQUAL without_windows_line_ends OR NOT bare_line_feed EQUAL -1)
    message(FATAL_ERROR "${text} does not have Windows line ends throughout")
  endif()
  file(READ "${top}/${text}" content)
  if(content MATCHES "@[A-Z_]+@")
    message(FATAL_ERROR "${text} holds an unreplaced placeholder")
  endif()
endforeach()
list(LENGTH expected count)
message(STATUS "${PACKAGE}.zip holds the ${count} files expected")
