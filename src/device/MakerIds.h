#pragma once

#include <array>
#include <cstdint>

/** The identities under which the maker's amplifiers appear: its SysEx manufacturer ID and USB vendor ID. */
namespace maker
{
inline constexpr std::array<std::uint8_t, 3> sysExManufacturerId{0x00, 0x21, 0x5A};
inline constexpr std::uint16_t usbVendorId = 0x2A5A;
} // namespace maker
