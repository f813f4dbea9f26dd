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
