#pragma once
// The one way between narrow UTF-8 text and wide text (UTF-32 on Linux).
// Bytes that are not valid UTF-8 become U+DC80 + byte and come back unchanged,
// so any Linux file name survives a round trip.
#include <string>
#include <string_view>

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);
