#include "engine/FirmwareCatalogue.h"

#include "firmware/EmbeddedImages.h"

namespace
{
struct CatalogueRow
{
    const char* firmwareKey;
    const char* versionText;
    juce::int32 versionNumber;
    int releaseBlocks;
};

// The build reads the keys and block counts of these rows (cmake/Firmware.cmake): keep one row per line.
// clang-format off
const CatalogueRow catalogueTable[] = {
    // firmwareKey   version   number  release blocks (a placeholder image is made this long)
    { "LX40",        "1.1.00", 131,    489 },
    { "LX60",        "1.1.00", 131,    489 },
    { "LX20",        "3.1.00", 2282,   481 },
    { "LC20-B",      "3.1.00", 2282,   477 },
    { "LC20-D_MKII", "3.1.00", 2282,   477 },
    { "LC20-C",      "3.1.00", 2282,   477 },
    { "LC20-A",      "3.1.00", 2282,   481 },
    { "LC20",        "2.0.00", 1994,   408 },
};
// clang-format on
} // namespace

void fillFirmwareCatalogue(FirmwareCatalogue& catalogue)
{
    for (const auto& row : catalogueTable)
    {
        auto* entry = catalogue.add(new FirmwareEntry(row.firmwareKey, row.versionText, row.versionNumber));
        entry->releaseBlocks = row.releaseBlocks;
        const auto image = getEmbeddedImage(row.firmwareKey);
        entry->imageData = image.data;
        entry->imageSize = image.size;
    }
}

const FirmwareEntry* findFirmware(const FirmwareCatalogue& catalogue, const juce::String& key)
{
    for (const auto* entry : catalogue)
        if (entry->firmwareKey == key)
            return entry;
    return nullptr;
}

juce::StringArray getFirmwareKeys(const FirmwareCatalogue& catalogue)
{
    juce::StringArray keys;
    for (const auto* entry : catalogue)
        keys.add(entry->firmwareKey);
    return keys;
}

juce::String getSoftwareVersionsText(const FirmwareCatalogue& catalogue)
{
    juce::String text;
    for (const auto* entry : catalogue)
        text << entry->firmwareKey << ": " << entry->versionText << " (" << juce::String(entry->versionNumber)
             << ")\n";
    return text;
}

bool isCatalogueVersion(const FirmwareCatalogue& catalogue, juce::int32 version)
{
    for (const auto* entry : catalogue)
        if (entry->versionNumber == version)
            return true;
    return false;
}
