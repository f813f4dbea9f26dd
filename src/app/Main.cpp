#include "app/UpdaterApplication.h"

START_JUCE_APPLICATION(SoftwareUpdaterApplication)
