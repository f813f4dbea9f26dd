#include "SmallImages.h"

#include "engine/KnownDeviceTable.h"
#include "firmware/FirmwareImage.h"

#include <map>

namespace
{
struct Images
{
    std::vector<std::uint8_t> firmware, image;
};

Images& imagesFor(const juce::String& key, int blocks)
{
    static std::map<std::pair<juce::String, int>, Images> cache;
    auto& images = cache[{key, blocks}];
    if (images.image.empty())
    {
        juce::OwnedArray<KnownDevice> devices;
        appendKnownDevices(devices);
        const auto* device = findKnownDeviceByKey(devices, key);
        images.firmware = makeTestFirmware(static_cast<std::size_t>(blocks) * 512 - 100,
                                           static_cast<std::uint8_t>(key.hashCode()));
        std::string error;
        images.image = packFirmwareImage(images.firmware, device->deviceCode, error).value();
    }
    return images;
}
} // namespace

std::vector<std::uint8_t> makeTestFirmware(std::size_t length, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t state = 0x9E3779B9u ^ seed;
    for (auto& byte : bytes)
    {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

const std::vector<std::uint8_t>& smallImageFirmware(const juce::String& key, int blocks)
{
    return imagesFor(key, blocks).firmware;
}

const std::vector<std::uint8_t>& smallImage(const juce::String& key, int blocks)
{
    return imagesFor(key, blocks).image;
}

std::function<void(FirmwareCatalogue&)> smallImageCatalogue(int blocks)
{
    return [blocks](FirmwareCatalogue& catalogue)
    {
        fillFirmwareCatalogue(catalogue);
        for (auto* entry : catalogue)
        {
            const auto& image = smallImage(entry->firmwareKey, blocks);
            entry->imageData = image.data();
            entry->imageSize = static_cast<juce::uint32>(image.size());
        }
    };
}
