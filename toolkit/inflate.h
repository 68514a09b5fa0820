// Unpacking a zlib stream (RFC 1950 around RFC 1951 "deflate" data), for the
// pictures the program stores packed. Needs no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace toolkit {

// Unpacks `packed` into `out`, which must be exactly the unpacked size. False, with
// `out` in an unspecified state, when the stream is damaged, is cut short, does not
// fill `out` exactly or fails its checksum.
[[nodiscard]] bool Inflate(std::span<const std::uint8_t> packed, std::span<std::uint8_t> out) noexcept;

}  // namespace toolkit
