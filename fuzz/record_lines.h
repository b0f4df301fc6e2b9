#pragma once
// Shared by the fuzz targets of the record-file line parsers: the input is
// cut into lines, each line stored as one value of a list entry, the section
// written as the file its loader reads, and the loader run on it. Everything
// lies in a data folder of its own below a temp folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "platform/text.h"

inline std::vector<std::string> fuzzInputLines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(data[i]);
    }
    return lines;
}

// LOCALAPPDATA points at a fresh temp folder, removed when the process ends.
inline const std::string& fuzzDataHome() {
    static const std::string home = [] {
        char pattern[] = "/tmp/varnholt-fuzz-XXXXXX";
        const std::string root = mkdtemp(pattern) ? pattern : "/tmp/varnholt-fuzz";
        setenv("LOCALAPPDATA", root.c_str(), 1);
        std::filesystem::create_directories(root + "/Morvane/QZR/ConfigData");
        std::filesystem::create_directories(root + "/Morvane/QZR/FileMetaData");
        static const std::string kept = root;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(kept, ignored);
        });
        return root;
    }();
    return home;
}

// Writes one section as a data file, without the atomic replacement's sync:
// the loaders read it at once, and the fuzzer runs many times a second.
inline bool writeFuzzFile(const std::wstring& path, DataRecord& document, const std::string& section,
                          std::string_view passPhrase) {
    std::string text;
    if (!packDataRecord(getRecordSection(document, section), passPhrase, text)) return false;
    const std::string file = wideToUtf8(path);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// Writes `lines` as the values of `entry` (type `typeCode`, bytes as given)
// into a file of one section.
inline bool writeFuzzLines(const std::wstring& path, const std::string& section, const std::string& entry,
                           const std::vector<std::string>& lines, uint32_t typeCode, std::string_view passPhrase) {
    DataRecord document;
    addRecordSection(document, section);
    RecordSectionHandle handle = getRecordSection(document, section);
    for (const std::string& line : lines) {
        if (line.size() <= kMaxRecordTextBytes) setRecordValue(handle, entry, line, typeCode, kRecordAppend);
    }
    return writeFuzzFile(path, document, section, passPhrase);
}
