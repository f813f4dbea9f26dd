# Warnings that our own targets compile with; JUCE's headers are system includes.
add_library(updater_warnings INTERFACE)
target_compile_options(updater_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror>)
