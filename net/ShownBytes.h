// SPDX-License-Identifier: MIT
#pragma once

// Bytes of the wire (Windows-1252) as a reader sees them.
namespace ShownBytes {

// A byte that does not show, or shows as nothing, so that two names or two
// lines that differ only by it look the same: C0, DEL, the five bytes
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D), the no-break
// space and the soft hyphen.
constexpr bool isInvisible(unsigned char b)
{
    return b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D ||
           b == 0xA0 || b == 0xAD;
}

} // namespace ShownBytes
