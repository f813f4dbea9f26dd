#include "app/SingleInstance.h"

namespace
{
constexpr const char* instanceNamePrefix = "LCLX_Software_Updater_";
constexpr const char* bringToFrontMessage = "front";
constexpr int connectTimeoutMs = 1000;
constexpr const char* loopbackAddress = "127.0.0.1";

/** The lock and the port file are per user: the name carries the user's home folder. */
juce::String instanceName()
{
    return instanceNamePrefix +
           juce::String::toHexString(juce::File("~").getFullPathName().hashCode64()).toUpperCase();
}

/** Where the first instance leaves the port it listens on, in the user's application data. */
juce::File portFileFor(const juce::String& name)
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("." + name + ".port");
}
} // namespace

/** One caller's connection: it passes the caller's message on, and asks to be let go once the caller left. */
class SingleInstance::Connection final : public juce::InterprocessConnection
{
public:
    Connection(Listener& l) : juce::InterprocessConnection(true), listener(l) {}
    ~Connection() override { disconnect(); }

    void connectionMade() override {}
    void connectionLost() override;
    void messageReceived(const juce::MemoryBlock& message) override;

private:
    Listener& listener;
};

/** The first instance's end: a socket on the loopback interface, its port in a file of the user's. The
    server thread sleeps in accept() until a caller comes (a named pipe would be polled every 30 ms). */
class SingleInstance::Listener final : public juce::InterprocessConnectionServer
{
public:
    Listener(juce::File portFileToWrite, std::function<void()> callback)
        : portFile(std::move(portFileToWrite)), onAnotherStart(std::move(callback))
    {
        if (beginWaitingForSocket(0, loopbackAddress))
            portFile.replaceWithText(juce::String(getBoundPort()));
    }

    ~Listener() override
    {
        stop();
        portFile.deleteFile();
    }

    void anotherStarted() { onAnotherStart(); }

    /** Deletes a connection once its caller has gone, outside the connection's own callbacks. */
    void release(Connection* connection)
    {
        juce::MessageManager::callAsync(
            [self = juce::WeakReference<Listener>(this), connection]
            {
                if (self != nullptr)
                    self->connections.removeObject(connection);
            });
    }

private:
    juce::InterprocessConnection* createConnectionObject() override
    {
        return connections.add(std::make_unique<Connection>(*this));
    }

    juce::File portFile;
    std::function<void()> onAnotherStart;
    juce::OwnedArray<Connection> connections;

    JUCE_DECLARE_WEAK_REFERENCEABLE(Listener)
};

void SingleInstance::Connection::connectionLost()
{
    listener.release(this);
}

void SingleInstance::Connection::messageReceived(const juce::MemoryBlock& message)
{
    if (message.toString() == bringToFrontMessage)
        listener.anotherStarted();
}

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
        listener = std::make_unique<Listener>(portFileFor(name), std::move(onAnotherStart));
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

    const auto port = portFileFor(name).loadFileAsString().trim().getIntValue();
    if (port <= 0 || !caller.connectToSocket(loopbackAddress, port, connectTimeoutMs))
        return false;
    const juce::String message(bringToFrontMessage);
    return caller.sendMessage(juce::MemoryBlock(message.toRawUTF8(), message.getNumBytesAsUTF8()));
}
