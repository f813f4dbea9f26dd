#pragma once

#include <juce_core/juce_core.h>

/** One firmware image compiled into the program. The bytes are static data and are never copied or freed. */
struct FirmwareEntry
{
    FirmwareEntry(juce::String key, juce::String version, juce::int32 number)
        : firmwareKey(std::move(key)), versionText(std::move(version)), versionNumber(number)
    {
    }

    const juce::uint8* imageData = nullptr;
    juce::uint32 imageSize = 0;
    juce::String firmwareKey;
    juce::String versionText;
    juce::int32 versionNumber = 0;
    /** Blocks of the release's image; a build without the maker's binary embeds a placeholder this long. */
    int releaseBlocks = 0;
};

using FirmwareCatalogue = juce::OwnedArray<FirmwareEntry>;

/** Appends the catalogue entries, in their fixed order, each pointing at its embedded image. */
void fillFirmwareCatalogue(FirmwareCatalogue& catalogue);

/** The first entry whose key equals `key` exactly, or nullptr. */
const FirmwareEntry* findFirmware(const FirmwareCatalogue& catalogue, const juce::String& key);

/** The key of every entry, in catalogue order. */
juce::StringArray getFirmwareKeys(const FirmwareCatalogue& catalogue);

/** One line "key: version (number)" per entry, in catalogue order. */
juce::String getSoftwareVersionsText(const FirmwareCatalogue& catalogue);

/** True when some entry's versionNumber is `version`: the versions an amplifier may keep. */
bool isCatalogueVersion(const FirmwareCatalogue& catalogue, juce::int32 version);
