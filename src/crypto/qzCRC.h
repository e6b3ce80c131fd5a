// CRC-32 as zlib computes it: the reflected polynomial 0xEDB88320, inverted before and after.
// Start with 0; feeding a message in pieces, each call taking the previous result, gives the CRC of
// the whole message. The DES component's stream operations checksum their plain text with it.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0 for a null buffer whatever the running CRC, and the running CRC unchanged for a
// length of 0 (or a negative one, which is no byte count).
std::uint32_t Crc32(std::uint32_t crc, const void* buffer, std::int64_t length);
