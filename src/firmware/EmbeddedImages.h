#pragma once

#include <cstdint>
#include <string_view>

/** A firmware image compiled into the program. */
struct EmbeddedImage
{
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

/** The image the build embedded for a firmware key; empty if it embedded none. */
EmbeddedImage getEmbeddedImage(std::string_view firmwareKey);
