#include "device/PortOwner.h"

#include <alsa/asoundlib.h>

#include <mutex>

// A sequencer port belongs to a client; a kernel client of a sound card names its card, and the card's
// device in sysfs leads to the USB device it sits on. A client of a program names no card.

namespace
{
/** The sound card of a sequencer client: -1 for a client of no card; empty when the sequencer cannot be
    asked. One handle of our own serves every question, opened on the first. */
std::optional<int> cardOfSequencerClient(int client)
{
    static std::mutex lock;
    static snd_seq_t* sequencer = nullptr;
    static bool tried = false;
    const std::lock_guard guard(lock);
    if (!tried)
    {
        tried = true;
        if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
            sequencer = nullptr;
        else
            snd_seq_set_client_name(sequencer, "LC/LX Software Updater port owners");
    }
    if (sequencer == nullptr)
        return std::nullopt;

    snd_seq_client_info_t* info = nullptr;
    snd_seq_client_info_alloca(&info);
    if (snd_seq_get_any_client_info(sequencer, client, info) < 0)
        return std::nullopt;
    return snd_seq_client_info_get_card(info);
}
} // namespace

PortOwnership findPortOwner(const juce::String& identifier)
{
    const auto client = sequencerClientOf(identifier);
    if (!client)
        return {};
    const auto card = cardOfSequencerClient(*client);
    if (!card)
        return {};
    if (*card < 0)
        return {.known = true, .usb = std::nullopt};
    return ownerOfSoundCard(*card);
}
