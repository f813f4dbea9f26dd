#pragma once

#include "device/KnownDevice.h"

/** Appends the known-device records, in their fixed order, to the end of a list. */
void appendKnownDevices(juce::OwnedArray<KnownDevice>& devices);

/** The firmwareKey of the first record whose displayName equals the name exactly; empty if none. */
juce::String getFirmwareKeyForName(const juce::OwnedArray<KnownDevice>& devices,
                                   const juce::String& displayName);

/** The displayName of the first record whose firmwareKey equals the key exactly; empty if none. */
juce::String getDisplayNameForKey(const juce::OwnedArray<KnownDevice>& devices,
                                  const juce::String& firmwareKey);

/** The first record whose firmwareKey equals the key exactly, or nullptr. */
const KnownDevice* findKnownDeviceByKey(const juce::OwnedArray<KnownDevice>& devices,
                                        const juce::String& firmwareKey);

/** The first record whose appPortName equals the name exactly, or nullptr. */
const KnownDevice* findKnownDeviceByAppPortName(const juce::OwnedArray<KnownDevice>& devices,
                                                const juce::String& appPortName);
