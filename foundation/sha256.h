#pragma once
// SHA-256 and HMAC-SHA-256: the keyed hash that turns the machine id into an
// identifier of this application only.
#include <array>
#include <cstdint>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest sha256(std::string_view bytes);
Sha256Digest hmacSha256(std::string_view key, std::string_view message);
