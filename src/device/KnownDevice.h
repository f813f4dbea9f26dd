#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** One identity under which an amplifier shows up on USB and MIDI. An empty record stands for no device. */
struct KnownDevice
{
    juce::String displayName;
    juce::String firmwareKey;
    juce::uint16 appProductId = 0;
    juce::uint16 bootProductId = 0;
    juce::uint8 deviceCode = 0;
    juce::String appPortName;
    juce::String bootPortName;
    /** For a model: the product ID of the generic boot loader it shows up as once its firmware is erased or
        its own boot is broken. */
    juce::uint16 genericBootProductId = 0;
    /** For a generic boot loader: one more name its port may carry, compared in any case. */
    juce::String fallbackPortName;

    /** A generic boot loader names no model and carries no firmware of its own. */
    bool isGenericBootLoader() const { return firmwareKey.isEmpty(); }
};

using KnownDevices = juce::OwnedArray<KnownDevice>;

/** The first record, in table order, that `matches`; null when none does. */
template <typename Predicate>
const KnownDevice* findKnownDevice(const KnownDevices& devices, Predicate matches)
{
    for (const auto* device : devices)
        if (matches(*device))
            return device;
    return nullptr;
}

/** The first record with this boot-mode product ID, or null. */
const KnownDevice* findKnownDeviceByBootProductId(const KnownDevices& devices, int productId);

/** The first record with this device code, or null. */
const KnownDevice* findKnownDeviceByCode(const KnownDevices& devices, juce::uint8 deviceCode);

/** The boot port names of every record with this boot-mode product ID, in table order, without repeats. */
juce::StringArray getBootPortNames(const KnownDevices& devices, int productId);

/** A name under which a generic boot loader's port may be listed when none carries a boot port name of the
    records of its product ID. */
struct FallbackPortName
{
    juce::String name;
    bool ignoreCase;
};

/** The generic boot loaders' fallback names, in the order they are tried: every loader's own fallback name
    in any case, then every loader's boot port name exactly; each name once. */
std::vector<FallbackPortName> getFallbackPortNames(const KnownDevices& devices);
