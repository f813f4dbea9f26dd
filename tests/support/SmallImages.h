#pragma once

#include "engine/FirmwareCatalogue.h"

#include <vector>

/** Firmware of `length` bytes whose content depends on the seed. */
std::vector<std::uint8_t> makeTestFirmware(std::size_t length, std::uint8_t seed);

/** A catalogue filler for tests: the real catalogue, with every entry pointing at a small image of
    `blocks` blocks (built with the packer) instead of the full-size one, so a whole run takes a second. */
std::function<void(FirmwareCatalogue&)> smallImageCatalogue(int blocks);

/** The firmware that the small image of a key carries. */
const std::vector<std::uint8_t>& smallImageFirmware(const juce::String& key, int blocks);
/** The small image of a key. */
const std::vector<std::uint8_t>& smallImage(const juce::String& key, int blocks);
