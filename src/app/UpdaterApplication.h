#pragma once

#include "app/ColourScheme.h"
#include "app/LogFile.h"
#include "app/SingleInstance.h"
#include "ui/MainContentComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The updater's application object: the log file, the colour scheme, the update session and the one main
    window that shows it. A test program may give the session other ways to reach the amplifier; the program
    itself uses the system's. */
class SoftwareUpdaterApplication : public juce::JUCEApplication
{
public:
    explicit SoftwareUpdaterApplication(std::function<DeviceComSeams()> seams = {})
        : makeSeams(std::move(seams))
    {
    }
    ~SoftwareUpdaterApplication() override = default;

    const juce::String getApplicationName() override { return "LC/LX Software Updater"; }
    const juce::String getApplicationVersion() override { return "3"; }
    // The framework's own check cannot bring the first window forward on every system; SingleInstance does.
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise(const juce::String&) override
    {
        if (!singleInstance.isFirst())
        {
            singleInstance.notifyFirst();
            quit();
            return;
        }
        singleInstance.listen([this] { anotherInstanceStarted({}); });

        juce::LookAndFeel::setDefaultLookAndFeel(&lookAndFeel);
        applyColourScheme(lookAndFeel);
        session = std::make_unique<UpdateSession>(makeSeams ? makeSeams() : DeviceComSeams{});
        mainWindow =
            std::make_unique<MainWindow>(getApplicationName() + " " + getApplicationVersion(), *session);
        session->startClock();
        // Installed last: the first lines come from the message loop, so none is lost.
        juce::Logger::setCurrentLogger(fileLogger.get());
    }

    void shutdown() override
    {
        juce::Logger::setCurrentLogger(nullptr);
        mainWindow.reset();
        session.reset(); // waits for a run stopped by the window's close
    }

    void anotherInstanceStarted(const juce::String&) override
    {
        if (mainWindow == nullptr)
            return;
        mainWindow->setMinimised(false);
        mainWindow->toFront(true);
    }

    /** The close button and the system's own quit request (log-out, shut-down) ask first while an update
        is in progress; the system is told to wait until the user has answered. */
    void systemRequestedQuit() override
    {
        auto* content = mainWindow != nullptr
                            ? dynamic_cast<MainContentComponent*>(mainWindow->getContentComponent())
                            : nullptr;
        if (content == nullptr)
            quit();
        else
            content->requestQuit([] { juce::JUCEApplication::quit(); });
    }

    /** The fixed-size window whose content is the main component. */
    class MainWindow : public juce::DocumentWindow
    {
    public:
        MainWindow(const juce::String& title, UpdateSession& session)
            : DocumentWindow(title, juce::Colour(0xFFD3D3D3),
                             juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true)
        {
            setUsingNativeTitleBar(false);
            setContentOwned(new MainContentComponent(session), true);
            centreWithSize(getWidth(), getHeight());
            setResizable(false, false);
            setVisible(true);
        }

        void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainWindow)
    };

private:
    std::function<DeviceComSeams()> makeSeams;
    SingleInstance singleInstance;
    std::unique_ptr<UpdateSession> session;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<juce::FileLogger> fileLogger = createLogFile();
    juce::LookAndFeel_V3 lookAndFeel;
};
