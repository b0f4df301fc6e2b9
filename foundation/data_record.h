#pragma once
// The keyed record document: named sections, each an ordered map from entry
// name to a typed list of byte-string values. Every data file is one section
// of such a document (see data_packet.h for the file form).
//
// Threads: every operation below takes the document's own mutex, so each call
// is atomic and `appDataRecord` may be used from any thread. A sequence of
// calls (clear a list, append its values, save) is not atomic as a whole: each
// section of `appDataRecord` has one owner (the code that loads and saves its
// file), and only that owner changes it.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Type codes of an entry.
inline constexpr uint32_t kRecordNarrowText = 0;
inline constexpr uint32_t kRecordInt32 = 2;
inline constexpr uint32_t kRecordUInt32 = 4;
inline constexpr uint32_t kRecordDouble = 5;
inline constexpr uint32_t kRecordWideText = 6;

// Any index at or past the end appends. Callers of old passed 9999, which
// stops appending once an entry holds 10000 values; this one never does.
inline constexpr uint32_t kRecordAppend = 0xFFFFFFFFu;

struct RecordEntry {
    uint32_t typeCode = 0;
    std::vector<std::string> values;
};

// std::string orders bytes as unsigned and a prefix first: the stored order.
using RecordEntryMap = std::map<std::string, RecordEntry>;

struct RecordSection {
    RecordEntryMap entries;
    std::mutex* documentMutex = nullptr;  // the owning document's mutex
};

// A section handle stays valid until its section is removed or the document
// is destroyed.
using RecordSectionHandle = RecordSection*;

struct DataRecord {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<RecordSection>> sections;
};

// The process-wide document: one section per configuration and data file.
extern DataRecord appDataRecord;

bool addRecordSection(DataRecord& document, const std::string& name);
RecordSectionHandle getRecordSection(DataRecord& document, const std::string& name);
// Removes a section of `appDataRecord`; its handle becomes invalid.
bool removeRecordSection(const std::string& name);

bool setRecordValue(RecordSectionHandle section, const std::string& name, std::string bytes,
                    uint32_t typeCode, uint32_t index);
bool setRecordString(RecordSectionHandle section, const std::string& name, std::string text,
                     uint32_t index);
// Stored as UTF-8.
bool setRecordWString(RecordSectionHandle section, const std::string& name, const std::wstring& text,
                      uint32_t index);
bool setRecordInt32(RecordSectionHandle section, const std::string& name, int32_t value);
bool setRecordUInt32(RecordSectionHandle section, const std::string& name, uint32_t value);
bool setRecordDouble(RecordSectionHandle section, const std::string& name, double value);
// `text` is base64 of a 16-bit little-endian type code and the value; throws
// std::out_of_range when it decodes to fewer than two bytes.
bool setRecordTypedText(RecordSectionHandle section, const std::string& name, const std::string& text);
// base64 of the entry's type code and first value; empty when there is no entry.
std::string getRecordTypedText(RecordSectionHandle section, const std::string& name);

bool removeRecordValue(RecordSectionHandle section, const std::string& name, uint32_t index);
bool clearRecordEntry(RecordSectionHandle section, const std::string& name);

// Getters leave `out` untouched when they return false.
bool getRecordValue(RecordSectionHandle section, const std::string& name, std::string& out,
                    uint32_t typeCode, uint32_t index);
bool getRecordString(RecordSectionHandle section, const std::string& name, std::string& out,
                     uint32_t index);
// UTF-8; a byte that is not valid UTF-8 comes back as the converter keeps it
// (U+DC80 + byte), so any file name survives a save and a load unchanged.
bool getRecordWString(RecordSectionHandle section, const std::string& name, std::wstring& out,
                      uint32_t index);
bool getRecordInt32(RecordSectionHandle section, const std::string& name, int32_t& out);
bool getRecordUInt32(RecordSectionHandle section, const std::string& name, uint32_t& out);
bool getRecordDouble(RecordSectionHandle section, const std::string& name, double& out);
size_t getRecordValueCount(RecordSectionHandle section, const std::string& name);

// A copy of the section's entries, taken under the document's mutex (the
// serialiser's view of a section).
RecordEntryMap copyRecordEntries(RecordSectionHandle section);
