#pragma once
// A small, tolerant reader of JSON-like text. It builds no tree: one walk
// fills a flat map from slash paths ("/data", "/a/b") to leaf values. There
// are no escape sequences and no error messages; a failure is "no value".
// Input size, nesting depth, key and path length and the number of entries
// are capped, so a hostile reply costs bounded time and memory.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class JsonValueKind : int32_t { None = 0, String = 1, Number = 2, Array = 3, Boolean = 4, Null = 5, Object = 6 };

struct JsonValue {
    std::wstring text;                   // string, number, boolean or null characters
    std::vector<std::wstring> elements;  // array elements
    JsonValueKind kind = JsonValueKind::None;
    int64_t start = -1;  // object: position of its "{"
    int64_t end = -1;    // object: position of its matching "}"
};

// Leaves only (kinds String to Null); the first value of a path wins.
using JsonPathMap = std::map<std::wstring, JsonValue>;

inline constexpr size_t kMaxJsonTextLength = 1024 * 1024;  // longer texts are refused
inline constexpr size_t kMaxJsonDepth = 16;                 // deeper objects are not walked
inline constexpr size_t kMaxJsonKeyLength = 256;            // longer keys are cut
inline constexpr size_t kMaxJsonPathLength = 1024;          // members with longer paths are dropped
inline constexpr size_t kMaxJsonEntries = 10000;            // further leaves are dropped

// Reads the key at `position` of `text` and moves past the ":" after it (or
// to the end of the text when no ":" follows), an empty key too. Never reads
// at or past `text`'s end.
std::wstring readJsonKey(std::wstring_view text, size_t& position);
// Reads the value at `position` (no white space skipped) and moves past it;
// an object leaves `position` on its closing "}".
JsonValue readJsonValue(std::wstring_view text, size_t& position);
// Fills `map` from the outer object (first "{" to last "}"); false when the
// text is empty, too long or has no such object.
bool walkJsonDocument(JsonPathMap& map, std::wstring_view text);
// Empties `out`, then puts the value of `path` into it: an array's elements,
// or a leaf's one text. Returns the count; 0 when the path is not there.
size_t findJsonValue(const JsonPathMap& map, const std::wstring& path, std::vector<std::wstring>& out);
