#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ombri {

// The 128-bit MD5 digest of a byte string. Thumbnails are named by it: the name is a key other
// programs sharing the cache compute the same way, not a protection of anything.
std::array<uint8_t, 16> md5Digest(const void* bytes, size_t count);

// The digest as 32 lowercase hexadecimal digits.
std::string md5Hex(const std::string& bytes);

} // namespace ombri
