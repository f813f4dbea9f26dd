#include "firmware/FirmwareImage.h"
#include "device/MakerIds.h"
#include "engine/FirmwareCatalogue.h"
#include "engine/KnownDeviceTable.h"
#include "support/SmallImages.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

namespace
{
/** Reads an image the way the boot loader does, independently of the packer: every fault becomes a line. */
struct ImageReading
{
    juce::StringArray faults;
    Bytes firmware;
    int blocks = 0;
};

Bytes unpackBlock(const std::uint8_t* packed, bool& spareBitsSet)
{
    Bytes out;
    int i = 0;
    while (i < 590)
    {
        const int header = packed[i];
        const int count = std::min(7, 590 - i - 1);
        for (int j = 0; j < count; ++j)
            out.push_back(static_cast<std::uint8_t>(packed[i + 1 + j] | (((header >> (6 - j)) & 1) << 7)));
        if (i + 1 + count == 590)
            spareBitsSet = (header & 0x03) == 0x03 && count == 5;
        i += count + 1;
    }
    return out;
}

ImageReading readImage(const std::uint8_t* data, std::size_t size, std::uint8_t deviceCode)
{
    ImageReading r;
    std::vector<std::pair<std::size_t, std::size_t>> messages; // start, length
    for (std::size_t pos = 0; pos < size;)
    {
        if (data[pos] != 0xF0)
        {
            r.faults.add("no F0 at " + juce::String(pos));
            return r;
        }
        auto end = pos + 1;
        while (end < size && data[end] < 0x80)
            ++end;
        if (end == size || data[end] != 0xF7)
        {
            r.faults.add("message at " + juce::String(pos) + " does not end in F7");
            return r;
        }
        messages.emplace_back(pos, end - pos + 1);
        pos = end + 1;
    }

    const auto m = maker::sysExManufacturerId;
    for (std::size_t k = 0; k < messages.size(); ++k)
    {
        const auto* msg = data + messages[k].first;
        const auto length = messages[k].second;
        if (msg[1] != m[0] || msg[2] != m[1] || msg[3] != m[2] || msg[4] != 0 || msg[5] != deviceCode)
            r.faults.add("message " + juce::String(k) + " has the wrong head or device code");
        const bool first = k == 0, last = k + 1 == messages.size();
        if (first || last)
        {
            const std::uint8_t command = first ? 0x51 : 0x52;
            if (length != 9 || msg[6] != command || msg[7] != 0x01)
                r.faults.add("message " + juce::String(k) + " is not the opening or closing message");
            continue;
        }
        if (length != 599 || msg[6] != 0x52 || msg[7] != 0x00)
        {
            r.faults.add("message " + juce::String(k) + " is not a data message");
            continue;
        }
        bool spareBitsSet = false;
        const auto block = unpackBlock(msg + 8, spareBitsSet);
        if (!spareBitsSet)
            r.faults.add("block " + juce::String(k - 1) + " lacks the spare header bits");
        const int index = (block[0] << 8) | block[1];
        const int count = (block[2] << 8) | block[3];
        if (index != static_cast<int>(k) - 1 || count != static_cast<int>(messages.size()) - 2)
            r.faults.add("block " + juce::String(k - 1) + " says index " + juce::String(index) + " of " +
                         juce::String(count));
        r.firmware.insert(r.firmware.end(), block.begin() + 4, block.end());
        ++r.blocks;
    }
    return r;
}

Bytes readFileBytes(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    const auto* p = static_cast<const std::uint8_t*>(block.getData());
    return Bytes(p, p + block.getSize());
}

const juce::File firmwareOutputDir{UPDATER_FIRMWARE_OUTPUT_DIR};
} // namespace

TEST(EmbeddedImages, FollowTheLayoutAndMatchTheirSyxFilesAndFirmware)
{
    // The release's image sizes, as the maker's files have them: independent of the table.
    const std::map<juce::uint32, int> releaseSizes{
        {292929, 489}, {288137, 481}, {285741, 477}, {244410, 408}};

    FirmwareCatalogue catalogue;
    fillFirmwareCatalogue(catalogue);
    juce::OwnedArray<KnownDevice> devices;
    appendKnownDevices(devices);

    for (const auto* entry : catalogue)
    {
        SCOPED_TRACE(entry->firmwareKey.toStdString());
        const auto code = findKnownDeviceByKey(devices, entry->firmwareKey)->deviceCode;
        const auto reading = readImage(entry->imageData, entry->imageSize, code);
        EXPECT_TRUE(reading.faults.isEmpty()) << reading.faults.joinIntoString("\n");

        EXPECT_EQ(reading.blocks, entry->releaseBlocks);
        if (releaseSizes.count(entry->imageSize) > 0)
        {
            EXPECT_EQ(releaseSizes.at(entry->imageSize), entry->releaseBlocks);
        }
        EXPECT_EQ(entry->imageSize, image::imageLengthForBlocks(static_cast<std::size_t>(reading.blocks)));

        // The .syx written beside the build is byte for byte what is embedded.
        const auto syx = readFileBytes(firmwareOutputDir.getChildFile(entry->firmwareKey + ".syx"));
        EXPECT_TRUE(syx == Bytes(entry->imageData, entry->imageData + entry->imageSize));

        // Unpacking every block gives the firmware back, filled up with FF.
        auto firmwareFile = firmwareOutputDir.getChildFile(entry->firmwareKey + ".placeholder.bin");
        if (!firmwareFile.existsAsFile())
            firmwareFile =
                juce::File(UPDATER_FIRMWARE_BINARIES_DIR).getChildFile(entry->firmwareKey + ".bin");
        auto firmware = readFileBytes(firmwareFile);
        ASSERT_FALSE(firmware.empty());
        firmware.resize(static_cast<std::size_t>(reading.blocks) * 512, 0xFF);
        EXPECT_TRUE(reading.firmware == firmware);
    }

    EXPECT_NE(std::memcmp(catalogue[0]->imageData + 9, catalogue[1]->imageData + 9, 599), 0)
        << "LX40 and LX60 must have different contents";
}

TEST(ImagePacker, PacksAnyLengthSoItReadsBackWhole)
{
    for (const std::size_t length : {1u, 3u, 511u, 512u, 513u, 5000u})
    {
        SCOPED_TRACE(length);
        const auto firmware = makeTestFirmware(length, static_cast<std::uint8_t>(length));
        std::string error;
        const auto packed = packFirmwareImage(firmware, 0x7D, error);
        ASSERT_TRUE(packed) << error;
        const auto reading = readImage(packed->data(), packed->size(), 0x7D);
        EXPECT_TRUE(reading.faults.isEmpty()) << reading.faults.joinIntoString("\n");
        EXPECT_EQ(reading.blocks, static_cast<int>((length + 511) / 512));
        EXPECT_TRUE(Bytes(reading.firmware.begin(), reading.firmware.begin() + static_cast<long>(length)) ==
                    firmware);
        for (auto i = length; i < reading.firmware.size(); ++i)
            ASSERT_EQ(reading.firmware[i], 0xFF) << "fill at " << i;
    }
}

TEST(ImagePacker, FirstAndLastBlockOfA489BlockImageStartAsTheBootLoaderExpects)
{
    const Bytes firmware(489 * 512, 0x11);
    std::string error;
    const auto packed = packFirmwareImage(firmware, 0x0E, error).value();
    const auto* block0 = packed.data() + 9 + 8;
    EXPECT_EQ(Bytes(block0, block0 + 5), (Bytes{0x08, 0x00, 0x00, 0x01, 0x69}));
    const auto* block488 = packed.data() + 9 + 488 * 599 + 8;
    EXPECT_EQ(Bytes(block488, block488 + 5), (Bytes{0x28, 0x01, 0x68, 0x01, 0x69}));
}

TEST(ImagePacker, RefusesFirmwareItCannotPack)
{
    std::string error;
    EXPECT_FALSE(packFirmwareImage({}, 0x0E, error));
    EXPECT_EQ(error, "the firmware is empty");

    const Bytes justFits(65535 * 512, 0x00);
    EXPECT_TRUE(packFirmwareImage(justFits, 0x0E, error));
    const Bytes tooLarge(65535 * 512 + 1, 0x00);
    error.clear();
    EXPECT_FALSE(packFirmwareImage(tooLarge, 0x0E, error));
    EXPECT_NE(error.find("16-bit block count"), std::string::npos) << error;
}

TEST(ImagePacker, CommandLineRefusesBadInputWithAMessageAndAFailure)
{
    const juce::File packer(UPDATER_IMAGE_PACKER);
    const auto folder = juce::File::createTempFile("packer");
    folder.createDirectory();
    const auto empty = folder.getChildFile("empty.bin");
    empty.create();
    const auto good = folder.getChildFile("good.bin");
    good.replaceWithText("firmware");

    auto run = [&](const juce::StringArray& args, juce::String& output)
    {
        juce::ChildProcess process;
        juce::StringArray command{packer.getFullPathName()};
        command.addArray(args);
        EXPECT_TRUE(process.start(command));
        output = process.readAllProcessOutput();
        // Its output closes before it has exited (a sanitizer's exit checks come after): wait for the end,
        // or the exit code would read 0.
        EXPECT_TRUE(process.waitForProcessToFinish(30000));
        // Windows' pipe (under Wine, on a busy machine) may show the last of it only once the process ended.
        output += process.readAllProcessOutput();
        return static_cast<int>(process.getExitCode());
    };

    juce::String output;
    const auto out = folder.getChildFile("out.syx").getFullPathName();
    EXPECT_NE(run({"pack", "--model", "LX40", empty.getFullPathName(), out}, output), 0);
    EXPECT_TRUE(output.contains("empty")) << output;
    EXPECT_NE(run({"pack", "--model", "LX99", good.getFullPathName(), out}, output), 0);
    EXPECT_TRUE(output.contains("no model")) << output;
    EXPECT_NE(run({"pack", "--device-code", "zz", good.getFullPathName(), out}, output), 0);
    EXPECT_NE(
        run({"pack", "--model", "LX40", folder.getChildFile("missing.bin").getFullPathName(), out}, output),
        0);
    EXPECT_TRUE(output.contains("cannot read")) << output;
    EXPECT_FALSE(juce::File(out).exists());

    EXPECT_EQ(run({"pack", "--model", "LC20-A", good.getFullPathName(), out}, output), 0) << output;
    EXPECT_EQ(juce::File(out).getSize(), static_cast<juce::int64>(image::imageLengthForBlocks(1)));
    folder.deleteRecursively();
}
