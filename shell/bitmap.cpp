#include "shell/bitmap.h"

#include <cstring>

namespace {
uint32_t readU32(std::span<const unsigned char> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

uint16_t readU16(std::span<const unsigned char> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Largest picture we accept; guards the size arithmetic below.
constexpr int64_t kMaxSide = 1 << 15;
}  // namespace

bool decodeBitmap24(std::span<const unsigned char> bytes, DecodedBitmap& out) {
    out = DecodedBitmap{};
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    const int64_t width = static_cast<int32_t>(readU32(bytes, 18));
    const int64_t rawHeight = static_cast<int32_t>(readU32(bytes, 22));
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -rawHeight : rawHeight;
    if (readU16(bytes, 28) != 24 || readU32(bytes, 30) != 0) return false;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return false;
    // A 24-bit file has no palette unless the header counts one.
    const uint64_t offset = 54 + 4ull * readU32(bytes, 46);
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    if (offset + stride * static_cast<uint64_t>(height) > bytes.size()) return false;

    out.rgba.resize(static_cast<size_t>(width * height * 4));
    for (int64_t y = 0; y < height; ++y) {
        const int64_t stored = topDown ? y : height - 1 - y;
        const unsigned char* src = bytes.data() + offset + stride * static_cast<uint64_t>(stored);
        uint8_t* dst = out.rgba.data() + y * width * 4;
        for (int64_t x = 0; x < width; ++x) {
            dst[x * 4 + 0] = src[x * 3 + 2];
            dst[x * 4 + 1] = src[x * 3 + 1];
            dst[x * 4 + 2] = src[x * 3 + 0];
            dst[x * 4 + 3] = 255;
        }
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return true;
}
