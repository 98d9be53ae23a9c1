# CLI11, the command-line parser of the tools: header-only, from Debian's
# libcli11-dev (installed by scripts/setup). A cross build must not search the
# host's /usr/include as a whole, so there the CLI folder alone is copied into
# the build tree and used from there.
if(TARGET velcrest_cli11)
  return()
endif()
add_library(velcrest_cli11 INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(VELCREST_CLI11_HOST_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
  set(cli11_copy ${PROJECT_BINARY_DIR}/cli11-include)
  file(COPY ${VELCREST_CLI11_HOST_INCLUDE}/CLI DESTINATION ${cli11_copy})
  target_include_directories(velcrest_cli11 SYSTEM INTERFACE ${cli11_copy})
else()
  find_package(CLI11 CONFIG REQUIRED)
  target_link_libraries(velcrest_cli11 INTERFACE CLI11::CLI11)
endif()
