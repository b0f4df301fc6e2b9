#pragma once
// Decoding of the 24-bit BMP files the program carries into RGBA pixels.
#include <cstdint>
#include <span>
#include <vector>

struct DecodedBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4, top row first
};

// Reads a 24-bit uncompressed "BM" file. Returns false (and leaves `out`
// empty) for other depths, compression, or a file too short for its header.
bool decodeBitmap24(std::span<const unsigned char> bytes, DecodedBitmap& out);
