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
    JUCE_ASIO=0 JUCE_JACK=0 JUCE_BELA=0 JUCE_USE_ANDROID_OBOE=0
    # The longest a MIDI send may take before it counts as failed, for the patched framework and our code.
    LCLX_LONGEST_SEND_MS=2000)
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

# Two JUCE modules are compiled from copies with the patches in cmake/juce-patches/<module>/ applied:
# - juce_gui_basics: JUCE's Linux window wakes the message thread at the display's refresh rate (100 Hz when
#   the display gives none) whether or not anything needs painting, which keeps an idle updater busy: there
#   the timer sleeps while nothing is to be painted and a repaint wakes it. Its Windows window passes
#   repaints on only at a vertical blank, which never comes where a monitor has none (under Wine, on some
#   virtual machines and remote sessions): there a window with no vertical blank lately passes them on itself.
# - juce_audio_devices: a system-exclusive send on Windows waits for the driver with no limit: there it waits
#   at most longestSendMs (src/device/MidiPorts.h), then resets the output so the buffer is handed back.
find_program(PATCH_PROGRAM patch REQUIRED)
function(use_patched_juce_module module)
  file(GLOB _patches CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/cmake/juce-patches/${module}/*.patch")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_patches})
  set(_patched "${CMAKE_BINARY_DIR}/juce-patched/${module}")
  set(_hash "")
  foreach(_patch IN LISTS _patches)
    file(SHA256 ${_patch} _one)
    string(APPEND _hash ${_one})
  endforeach()
  set(_applied "")
  if(EXISTS "${_patched}/.applied")
    file(READ "${_patched}/.applied" _applied)
  endif()
  if(NOT "${_applied}" STREQUAL "${_hash}")
    file(REMOVE_RECURSE "${_patched}")
    file(COPY "${JUCE_MODULES_DIR}/${module}" DESTINATION "${CMAKE_BINARY_DIR}/juce-patched")
    foreach(_patch IN LISTS _patches)
      execute_process(COMMAND ${PATCH_PROGRAM} -p1 --binary --quiet -i ${_patch}
        WORKING_DIRECTORY "${_patched}" RESULT_VARIABLE _result)
      if(_result)
        message(FATAL_ERROR "${_patch} does not apply to ${JUCE_MODULES_DIR}/${module}")
      endif()
    endforeach()
    file(WRITE "${_patched}/.applied" "${_hash}")
  endif()
  get_target_property(_sources ${module} INTERFACE_SOURCES)
  list(TRANSFORM _sources REPLACE "^${JUCE_MODULES_DIR}/${module}/" "${_patched}/")
  set_target_properties(${module} PROPERTIES INTERFACE_SOURCES "${_sources}")
endfunction()
use_patched_juce_module(juce_gui_basics)
use_patched_juce_module(juce_audio_devices)
