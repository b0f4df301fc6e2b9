// Walks any bytes as a server reply (each byte widened on its own, as the
// update check does). Every entry must respect the reader's caps and be found
// again by its path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text(size, L'\0');
    for (size_t i = 0; i < size; ++i) text[i] = data[i];
    JsonPathMap map;
    if (!walkJsonDocument(map, text)) {
        if (!map.empty()) __builtin_trap();
        return 0;
    }
    if (map.size() > kMaxJsonEntries) __builtin_trap();
    std::vector<std::wstring> values;
    for (const auto& [path, value] : map) {
        if (path.empty() || path[0] != L'/' || path.size() > kMaxJsonPathLength) __builtin_trap();
        if (value.kind == JsonValueKind::None || value.kind == JsonValueKind::Object) __builtin_trap();
        const size_t count = findJsonValue(map, path, values);
        if (count != values.size() || (value.kind != JsonValueKind::Array && count != 1)) __builtin_trap();
    }
    return 0;
}
