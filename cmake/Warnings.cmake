# Warnings that our own targets compile with; JUCE's headers are system includes.
add_library(updater_warnings INTERFACE)
target_compile_options(updater_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wshadow -Wnon-virtual-dtor -Werror>)
# GCC 12 takes the framework's ListenerList, which links a stack iterator into the list for the length of a
# call and unlinks it after, for a dangling pointer (a known false positive of that warning).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  target_compile_options(updater_warnings INTERFACE -Wno-dangling-pointer)
endif()
