# UPDATER_SANITIZE=address builds everything with AddressSanitizer and UndefinedBehaviorSanitizer,
# UPDATER_SANITIZE=thread with ThreadSanitizer. JUCE is compiled with the same flags.
if(UPDATER_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(UPDATER_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(UPDATER_SANITIZE)
  message(FATAL_ERROR "UPDATER_SANITIZE must be address, thread or empty")
endif()

# UPDATER_FUZZ=ON (with clang) instruments everything for libFuzzer's coverage, with AddressSanitizer and
# UndefinedBehaviorSanitizer, and builds the fuzz targets.
option(UPDATER_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(UPDATER_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
