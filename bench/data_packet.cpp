// Packing and unpacking a 60 KiB section with the data-file pass phrase.
#include <benchmark/benchmark.h>

#include "foundation/data_packet.h"

namespace {

// About 60 KiB of image: a file list of the usual shape plus a few numbers.
RecordSectionHandle sixtyKiBSection(DataRecord& document) {
    addRecordSection(document, "md");
    RecordSectionHandle section = getRecordSection(document, "md");
    std::wstring path = L"/home/user/Documents/projects/varnholt/notes/file_0000.txt";
    for (int i = 0; serializeRecordSection(section).size() < 60 * 1024 - 80; ++i) {
        const std::wstring number = std::to_wstring(i);
        setRecordWString(section, "mi", L"AAAAAA==[||]" + path + number, kRecordAppend);
        if (i % 100 == 0) setRecordInt32(section, "n" + std::to_string(i), i);
    }
    return section;
}

void packSection(benchmark::State& state) {
    DataRecord document;
    RecordSectionHandle section = sixtyKiBSection(document);
    std::string text;
    for (auto _ : state) {
        packDataRecord(section, kDataFilePassPhrase, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["image_bytes"] = static_cast<double>(serializeRecordSection(section).size());
}

void unpackSection(benchmark::State& state) {
    DataRecord document;
    RecordSectionHandle section = sixtyKiBSection(document);
    std::string text;
    packDataRecord(section, kDataFilePassPhrase, text);
    for (auto _ : state) {
        DataRecord target;
        addRecordSection(target, "md");
        const bool ok = unpackDataRecord(getRecordSection(target, "md"), text, kDataFilePassPhrase);
        benchmark::DoNotOptimize(ok);
    }
}

}  // namespace

BENCHMARK(packSection)->Unit(benchmark::kMicrosecond);
BENCHMARK(unpackSection)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
