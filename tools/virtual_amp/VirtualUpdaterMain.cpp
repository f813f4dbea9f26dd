// The updater's window with a virtual amplifier attached instead of the system's MIDI ports and USB devices,
// for trying the program out and for screenshots:  lclx_virtual_updater [firmwareKey] [app|boot|generic]
// [version] [unplugAfter]: with unplugAfter > 0 the amplifier's cable is pulled after that many messages of
// an update. --scale=N draws the window N times larger, as a desktop scaled to N00 % would, where the X
// server cannot say so itself (a virtual one).

#include "VirtualAmplifier.h"
#include "VirtualMidiSystem.h"
#include "app/ColourScheme.h"
#include "ui/MainContentComponent.h"

/** A window that quits the program when closed. */
class QuittingWindow : public juce::DocumentWindow
{
public:
    using juce::DocumentWindow::DocumentWindow;
    void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }
};

class VirtualUpdaterApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "LC/LX Software Updater"; }
    const juce::String getApplicationVersion() override { return "3"; }

    void initialise(const juce::String& commandLine) override
    {
        juce::StringArray args;
        for (const auto& arg : juce::StringArray::fromTokens(commandLine, true))
        {
            if (arg.startsWith("--scale="))
                juce::Desktop::getInstance().setGlobalScaleFactor(
                    arg.fromFirstOccurrenceOf("=", false, false).getFloatValue());
            else
                args.add(arg);
        }
        const auto key = args.size() > 0 ? args[0] : juce::String("LX40");
        const auto modeName = args.size() > 1 ? args[1] : juce::String("boot");
        const auto mode = modeName == "app"       ? VirtualAmplifier::Mode::application
                          : modeName == "generic" ? VirtualAmplifier::Mode::genericBoot
                                                  : VirtualAmplifier::Mode::boot;
        amplifier =
            std::make_unique<VirtualAmplifier>(midi, key, mode, args.size() > 2 ? args[2].getIntValue() : 0);
        if (const auto unplugAfter = args.size() > 3 ? args[3].getIntValue() : 0; unplugAfter > 0)
            amplifier->unplugAfter(static_cast<std::size_t>(unplugAfter));

        juce::LookAndFeel::setDefaultLookAndFeel(&lookAndFeel);
        applyColourScheme(lookAndFeel);
        window = std::make_unique<QuittingWindow>(
            getApplicationName() + " " + getApplicationVersion(), juce::Colour(0xFFD3D3D3),
            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true);
        window->setUsingNativeTitleBar(false);
        session = std::make_unique<UpdateSession>(
            DeviceComSeams{.ports = &midi, .enumerateUsb = midi.usbEnumerator()});
        window->setContentOwned(new MainContentComponent(*session), true);
        session->startClock();
        window->centreWithSize(window->getWidth(), window->getHeight());
        window->setResizable(false, false);
        window->setVisible(true);
    }

    void systemRequestedQuit() override
    {
        if (auto* content = dynamic_cast<MainContentComponent*>(window->getContentComponent()))
            content->requestQuit([] { juce::JUCEApplication::quit(); });
        else
            quit();
    }

    void shutdown() override
    {
        window.reset();
        session.reset();
        amplifier.reset();
    }

private:
    VirtualMidiSystem midi;
    std::unique_ptr<VirtualAmplifier> amplifier;
    std::unique_ptr<UpdateSession> session;
    juce::LookAndFeel_V3 lookAndFeel;
    std::unique_ptr<QuittingWindow> window;
};

START_JUCE_APPLICATION(VirtualUpdaterApplication)
