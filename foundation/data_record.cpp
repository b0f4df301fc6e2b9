#include "foundation/data_record.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "foundation/data_packet.h"
#include "platform/text.h"

static_assert(std::endian::native == std::endian::little, "values are stored little-endian");

DataRecord appDataRecord;

namespace {

using Lock = std::lock_guard<std::mutex>;

RecordEntry* findEntry(RecordSectionHandle section, const std::string& name) {
    auto it = section->entries.find(name);
    return it == section->entries.end() ? nullptr : &it->second;
}

template <typename T>
std::string rawBytes(T value) {
    std::string bytes(sizeof(T), '\0');
    std::memcpy(bytes.data(), &value, sizeof(T));  // little-endian host
    return bytes;
}

template <typename T>
bool readFixed(RecordSectionHandle section, const std::string& name, uint32_t typeCode, T& out) {
    std::string bytes;
    if (!getRecordValue(section, name, bytes, typeCode, 0) || bytes.size() != sizeof(T)) return false;
    std::memcpy(&out, bytes.data(), sizeof(T));
    return true;
}

}  // namespace

bool addRecordSection(DataRecord& document, const std::string& name) {
    Lock lock(document.mutex);
    if (document.sections.count(name)) return false;
    auto section = std::make_unique<RecordSection>();
    section->documentMutex = &document.mutex;
    document.sections.emplace(name, std::move(section));
    return true;
}

RecordSectionHandle getRecordSection(DataRecord& document, const std::string& name) {
    Lock lock(document.mutex);
    auto it = document.sections.find(name);
    return it == document.sections.end() ? nullptr : it->second.get();
}

bool removeRecordSection(const std::string& name) {
    Lock lock(appDataRecord.mutex);
    return appDataRecord.sections.erase(name) > 0;
}

bool setRecordValue(RecordSectionHandle section, const std::string& name, std::string bytes,
                    uint32_t typeCode, uint32_t index) {
    if (!section) return false;
    Lock lock(*section->documentMutex);
    RecordEntry& entry = section->entries[name];
    if (entry.values.empty() || entry.typeCode != typeCode) {
        entry.typeCode = typeCode;
        entry.values.assign(1, std::move(bytes));
    } else if (index < entry.values.size()) {
        entry.values[index] = std::move(bytes);
    } else {
        entry.values.push_back(std::move(bytes));
    }
    return true;
}

bool setRecordString(RecordSectionHandle section, const std::string& name, std::string text,
                     uint32_t index) {
    return setRecordValue(section, name, std::move(text), kRecordNarrowText, index);
}

bool setRecordWString(RecordSectionHandle section, const std::string& name, const std::wstring& text,
                      uint32_t index) {
    return setRecordValue(section, name, wideToUtf8(text), kRecordWideText, index);
}

bool setRecordInt32(RecordSectionHandle section, const std::string& name, int32_t value) {
    return setRecordValue(section, name, rawBytes(value), kRecordInt32, 0);
}

bool setRecordUInt32(RecordSectionHandle section, const std::string& name, uint32_t value) {
    return setRecordValue(section, name, rawBytes(value), kRecordUInt32, 0);
}

bool setRecordDouble(RecordSectionHandle section, const std::string& name, double value) {
    return setRecordValue(section, name, rawBytes(value), kRecordDouble, 0);
}

bool setRecordTypedText(RecordSectionHandle section, const std::string& name, const std::string& text) {
    std::string bytes;
    base64Decode(text, bytes);
    if (bytes.size() < 2) throw std::out_of_range("invalid string position");
    const uint32_t typeCode = static_cast<unsigned char>(bytes[0]) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(bytes[1])) << 8);
    return setRecordValue(section, name, bytes.substr(2), typeCode, 0);
}

std::string getRecordTypedText(RecordSectionHandle section, const std::string& name) {
    if (!section) return {};
    std::string bytes;
    {
        Lock lock(*section->documentMutex);
        const RecordEntry* entry = findEntry(section, name);
        if (!entry) return {};
        bytes += static_cast<char>(entry->typeCode & 0xFF);
        bytes += static_cast<char>((entry->typeCode >> 8) & 0xFF);
        if (!entry->values.empty()) bytes += entry->values.front();
    }
    return base64Convert(bytes);
}

bool removeRecordValue(RecordSectionHandle section, const std::string& name, uint32_t index) {
    if (!section) return false;
    Lock lock(*section->documentMutex);
    RecordEntry* entry = findEntry(section, name);
    if (!entry) return false;
    if (entry->values.size() >= 2 && index < entry->values.size()) {
        entry->values.erase(entry->values.begin() + index);
    } else {
        section->entries.erase(name);
    }
    return true;
}

bool clearRecordEntry(RecordSectionHandle section, const std::string& name) {
    if (!section) return false;
    Lock lock(*section->documentMutex);
    RecordEntry* entry = findEntry(section, name);
    if (!entry) return false;
    if (entry->values.size() < 2) {
        section->entries.erase(name);
    } else {
        entry->values.clear();
    }
    return true;
}

bool getRecordValue(RecordSectionHandle section, const std::string& name, std::string& out,
                    uint32_t typeCode, uint32_t index) {
    if (!section) return false;
    Lock lock(*section->documentMutex);
    const RecordEntry* entry = findEntry(section, name);
    if (!entry || entry->typeCode != typeCode || index >= entry->values.size()) return false;
    out = entry->values[index];
    return true;
}

bool getRecordString(RecordSectionHandle section, const std::string& name, std::string& out,
                     uint32_t index) {
    return getRecordValue(section, name, out, kRecordNarrowText, index);
}

bool getRecordWString(RecordSectionHandle section, const std::string& name, std::wstring& out,
                      uint32_t index) {
    std::string bytes;
    if (!getRecordValue(section, name, bytes, kRecordWideText, index)) return false;
    out = utf8ToWide(bytes);
    return true;
}

bool getRecordInt32(RecordSectionHandle section, const std::string& name, int32_t& out) {
    return readFixed(section, name, kRecordInt32, out);
}

bool getRecordUInt32(RecordSectionHandle section, const std::string& name, uint32_t& out) {
    return readFixed(section, name, kRecordUInt32, out);
}

bool getRecordDouble(RecordSectionHandle section, const std::string& name, double& out) {
    return readFixed(section, name, kRecordDouble, out);
}

size_t getRecordValueCount(RecordSectionHandle section, const std::string& name) {
    if (!section) return 0;
    Lock lock(*section->documentMutex);
    const RecordEntry* entry = findEntry(section, name);
    return entry ? entry->values.size() : 0;
}

RecordEntryMap copyRecordEntries(RecordSectionHandle section) {
    if (!section) return {};
    Lock lock(*section->documentMutex);
    return section->entries;
}
