// Walking 1 MiB replies of the shapes that cost the reader the most: every
// member read must move on, so each shape takes time linear in its length.
#include <benchmark/benchmark.h>

#include <string>

#include "net/json_reader.h"

namespace {

// "{" + `unit` repeated + "}", as long as the reader takes.
std::wstring filledObject(const std::wstring& unit) {
    std::wstring text = L"{";
    while (text.size() + unit.size() + 1 <= kMaxJsonTextLength) text += unit;
    return text + L"}";
}

// Deepest objects: each level is scanned once to find its end.
std::wstring nestedObjects() {
    const size_t levels = (kMaxJsonTextLength - 2) / 6;
    std::wstring text;
    for (size_t i = 0; i < levels; ++i) text += L"{\"a\":";
    text += L"1";
    text.append(levels, L'}');
    return text;
}

std::wstring shape(int64_t which) {
    switch (which) {
        case 0: return filledObject(L"\"\" ");          // empty keys without ":"
        case 1: return filledObject(L"\"\":\"\",");     // empty keys with empty strings
        case 2: return filledObject(L"\"a\":1,");       // many short members
        case 3: return filledObject(L"\"a\" ");         // one key that never ends
        case 4: return filledObject(L"\"a\":{},");      // many empty objects
        case 5: return nestedObjects();
        default: return filledObject(L"\"a\":[1,\"");  // arrays cut off by the next
    }
}

void walkWorstReply(benchmark::State& state) {
    const std::wstring text = shape(state.range(0));
    for (auto _ : state) {
        JsonPathMap map;
        benchmark::DoNotOptimize(walkJsonDocument(map, text));
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}

}  // namespace

BENCHMARK(walkWorstReply)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
