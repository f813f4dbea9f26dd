# The JUCE modules are compiled once into juce_modules; everything else links it.
add_library(juce_modules STATIC)
target_link_libraries(juce_modules
  PRIVATE
    juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_graphics
    juce::juce_gui_basics juce::juce_audio_basics juce::juce_audio_devices
  PUBLIC
    juce::juce_recommended_config_flags)
target_compile_definitions(juce_modules
  PUBLIC
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_USE_DARK_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
    JUCE_MODAL_LOOPS_PERMITTED=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    JUCE_ASIO=0 JUCE_JACK=0 JUCE_BELA=0 JUCE_USE_ANDROID_OBOE=0)
set_target_properties(juce_modules PROPERTIES POSITION_INDEPENDENT_CODE ON)
# Consumers see the module headers as system headers, so JUCE's warnings are not ours.
get_target_property(_juce_module_includes juce::juce_core INTERFACE_INCLUDE_DIRECTORIES)
target_include_directories(juce_modules SYSTEM INTERFACE ${_juce_module_includes} ${JUCE_MODULES_DIR})
# Debian's JUCE uses the system's zlib, libpng and libjpeg instead of its own copies.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)
target_link_libraries(juce_modules PUBLIC PNG::PNG JPEG::JPEG ZLIB::ZLIB)
if(WIN32)
  # The modules also ask for zlib by name (-lz) on Windows: the linker looks where the one found lies.
  list(GET ZLIB_LIBRARIES 0 _zlib_library)
  get_filename_component(_zlib_dir "${_zlib_library}" DIRECTORY)
  target_link_directories(juce_modules PUBLIC ${_zlib_dir})
endif()

# JUCE's Linux window wakes the message thread at the display's refresh rate (100 Hz when the display
# gives none) whether or not anything needs painting, which keeps an idle updater busy. juce_gui_basics
# is compiled from a copy with the patches in cmake/juce-patches/ applied: there the timer sleeps while
# nothing is to be painted and a repaint wakes it.
set(_juce_patches "${CMAKE_SOURCE_DIR}/cmake/juce-patches/linux-idle-vblank.patch")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_juce_patches})
set(_patched_gui "${CMAKE_BINARY_DIR}/juce-patched/juce_gui_basics")
file(SHA256 ${_juce_patches} _juce_patches_hash)
set(_patched_mark "${_patched_gui}/.applied")
if(EXISTS "${_patched_mark}")
  file(READ "${_patched_mark}" _applied_hash)
endif()
if(NOT "${_applied_hash}" STREQUAL "${_juce_patches_hash}")
  find_program(PATCH_PROGRAM patch REQUIRED)
  file(REMOVE_RECURSE "${_patched_gui}")
  file(COPY "${JUCE_MODULES_DIR}/juce_gui_basics" DESTINATION "${CMAKE_BINARY_DIR}/juce-patched")
  foreach(_patch IN LISTS _juce_patches)
    execute_process(COMMAND ${PATCH_PROGRAM} -p1 --binary --quiet -i ${_patch}
      WORKING_DIRECTORY "${_patched_gui}" RESULT_VARIABLE _patch_result)
    if(_patch_result)
      message(FATAL_ERROR "${_patch} does not apply to ${JUCE_MODULES_DIR}/juce_gui_basics")
    endif()
  endforeach()
  file(WRITE "${_patched_mark}" "${_juce_patches_hash}")
endif()
get_target_property(_gui_sources juce_gui_basics INTERFACE_SOURCES)
list(TRANSFORM _gui_sources REPLACE "^${JUCE_MODULES_DIR}/juce_gui_basics/" "${_patched_gui}/")
set_target_properties(juce_gui_basics PROPERTIES INTERFACE_SOURCES "${_gui_sources}")
