#include "app/LogFile.h"

namespace
{
constexpr const char* logFileName = "LCLX_Software_Updater.txt";
constexpr const char* welcomeMessage = "LC LX Software Updater";
constexpr juce::int64 maxInitialLogFileSize = 128 * 1024;
} // namespace

std::unique_ptr<juce::FileLogger> createLogFile()
{
    return std::unique_ptr<juce::FileLogger>(
        juce::FileLogger::createDefaultAppLogger({}, logFileName, welcomeMessage, maxInitialLogFileSize));
}
