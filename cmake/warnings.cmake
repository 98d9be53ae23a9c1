# Every target of the project builds with the same strict warnings, and a
# warning is an error: a warning left standing hides the next one.
# -Wnull-dereference is left out: with optimisation, g++ 12 reports it inside
# the standard library's stream iterators, where no null pointer can occur.
add_compile_options(
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wimplicit-fallthrough -Werror)
# g++ 12 at -O3 reports overlapping copies inside std::string's own
# concatenation (a known false positive of that release); -Wrestrict stays on
# for every other compiler and version.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
