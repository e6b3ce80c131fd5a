// The JPEG resources of the header strip, by resource name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The bytes of the JPEG resource `name`; false when the library has none of that name.
bool FindJpegResource(std::u16string_view name, const uint8_t*& data, size_t& size);
