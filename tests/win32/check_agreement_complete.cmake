# Every constant and record of src/platform/win_api.h and win_ui_api.h must be
# held against the platform's in src/win32/platform_agreement.cpp; one added
# to the headers and not there would go unchecked.
#
#   cmake -DSOURCE_DIR=<project> -P check_agreement_complete.cmake

cmake_minimum_required(VERSION 3.25)

file(READ ${SOURCE_DIR}/src/win32/platform_agreement.cpp agreement)
set(missing "")
foreach(header win_api.h win_ui_api.h)
  file(READ ${SOURCE_DIR}/src/platform/${header} text)
  # Semicolons would split the matches into list items.
  string(REPLACE ";" "|" text "${text}")
  string(REGEX MATCHALL "inline constexpr [^=|(]+ =" constants "${text}")
  if(NOT constants)
    message(FATAL_ERROR "no constants found in ${header}: the reading here no longer fits it")
  endif()
  foreach(constant IN LISTS constants)
    string(REGEX REPLACE ".*[ *]([A-Za-z_0-9]+) =$" "\\1" name "${constant}")
    if(name MATCHES "^k[A-Z]")
      continue()  # our own helper values, not the platform's
    endif()
    # A string and an initialiser list cannot go through CHECK; they are
    # compared one by one.
    if(name MATCHES "^(SE_SHUTDOWN_NAME|SECURITY_NT_AUTHORITY)$")
      string(FIND "${agreement}" "= win::${name};" found)
    else()
      string(FIND "${agreement}" "CHECK(${name})" found)
    endif()
    if(found EQUAL -1)
      list(APPEND missing "${header}: constant ${name}")
    endif()
  endforeach()
  string(REGEX MATCHALL "struct [A-Za-z_0-9]+ {[^}]*}" records "${text}")
  foreach(record IN LISTS records)
    string(REGEX REPLACE "^struct ([A-Za-z_0-9]+) {.*" "\\1" name "${record}")
    string(FIND "${agreement}" "VELCREST_SAME_RECORD(${name})" found)
    if(found EQUAL -1)
      list(APPEND missing "${header}: record ${name}")
      continue()
    endif()
    string(REGEX MATCHALL "[A-Za-z_0-9]+(\\[[^]]*\\])?\\|" fields "${record}")
    foreach(field IN LISTS fields)
      string(REGEX REPLACE "(\\[.*)?\\|$" "" field "${field}")
      string(FIND "${agreement}" "VELCREST_SAME_FIELD(${name}, ${field})" found)
      if(found EQUAL -1)
        list(APPEND missing "${header}: field ${name}::${field}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(missing)
  list(JOIN missing "\n  " missing_text)
  message(FATAL_ERROR "not held against the platform in platform_agreement.cpp:\n  ${missing_text}")
endif()
