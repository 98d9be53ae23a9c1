# Every target of the project builds with the same strict warnings, and a
# warning is an error: a warning left standing hides the next one.
add_compile_options(
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wimplicit-fallthrough -Werror)
