#include "app/SingleInstance.h"

namespace
{
constexpr const char* instanceNamePrefix = "LCLX_Software_Updater_";
constexpr const char* bringToFrontMessage = "front";
constexpr int pipeTimeoutMs = 1000;

/** The lock and the pipe are per user: the name carries the user's home folder. */
juce::String instanceName()
{
    return instanceNamePrefix +
           juce::String::toHexString(juce::File("~").getFullPathName().hashCode64()).toUpperCase();
}
} // namespace

/** The first instance's end of the pipe; it opens the pipe again after each caller has gone. */
class SingleInstance::Listener final : public juce::InterprocessConnection
{
public:
    Listener(juce::String nameOfPipe, std::function<void()> callback)
        : juce::InterprocessConnection(true), pipeName(std::move(nameOfPipe)),
          onAnotherStart(std::move(callback))
    {
        open();
    }

    ~Listener() override { disconnect(); }

    void connectionMade() override {}
    void connectionLost() override
    {
        juce::MessageManager::callAsync(
            [self = juce::WeakReference<Listener>(this)]
            {
                if (self != nullptr)
                    self->open();
            });
    }

    void messageReceived(const juce::MemoryBlock& message) override
    {
        if (message.toString() == bringToFrontMessage)
            onAnotherStart();
    }

private:
    void open() { createPipe(pipeName, -1, false); }

    juce::String pipeName;
    std::function<void()> onAnotherStart;

    JUCE_DECLARE_WEAK_REFERENCEABLE(Listener)
};

SingleInstance::SingleInstance() : name(instanceName()), lock(name)
{
    first = lock.enter(0);
}

SingleInstance::~SingleInstance()
{
    listener.reset();
    if (first)
        lock.exit();
}

void SingleInstance::listen(std::function<void()> onAnotherStart)
{
    if (first)
        listener = std::make_unique<Listener>(name, std::move(onAnotherStart));
}

bool SingleInstance::notifyFirst()
{
    struct Caller final : juce::InterprocessConnection
    {
        Caller() : juce::InterprocessConnection(false) {}
        ~Caller() override { disconnect(); }
        void connectionMade() override {}
        void connectionLost() override {}
        void messageReceived(const juce::MemoryBlock&) override {}
    } caller;

    if (!caller.connectToPipe(name, pipeTimeoutMs))
        return false;
    const juce::String message(bringToFrontMessage);
    return caller.sendMessage(juce::MemoryBlock(message.toRawUTF8(), message.getNumBytesAsUTF8()));
}
