#pragma once
// The text form of a data file: a section's binary image, enciphered in
// 8-byte blocks under a pass phrase, carried with its CRC-32 in a "packet"
// section that is enciphered again and written as base64. With the empty pass
// phrase a file is the base64 of the image alone.
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/data_record.h"
#include "foundation/global_defaults.h"  // the pass phrases
#include "platform/atomic_file.h"

// Longest text value (and entry name) a file can hold: lengths are 16 bits.
inline constexpr size_t kMaxRecordTextBytes = 65535;

// The section image: one record per entry in name order. Lengths are stored
// modulo 65536, as the format does; `packDataRecord` refuses such sections.
std::string serializeRecordSection(RecordSectionHandle section);
// Merges an image into the section; malformed data ends the parse and keeps
// what was read. Never reads past the end of `bytes`.
bool parseRecordSection(RecordSectionHandle section, std::string_view bytes);

// The file text of one section; false (and `text` empty) when a name or text
// value is longer than kMaxRecordTextBytes and would not read back.
bool packDataRecord(RecordSectionHandle section, std::string_view passPhrase, std::string& text);
bool unpackDataRecord(RecordSectionHandle section, std::string_view text, std::string_view passPhrase);

// Writes one section to `path` by atomic replacement: false leaves the old file.
bool saveDataRecordFile(DataRecord& document, const std::string& sectionName, const std::wstring& path,
                        std::string_view passPhrase);
// Creates the section when missing, then reads the file into it.
bool loadDataRecordFile(DataRecord& document, const std::string& sectionName, const std::wstring& path,
                        std::string_view passPhrase);

// Writes a section of one text entry to `path` value by value, in bounded
// memory, by atomic replacement: the same file saveDataRecordFile writes for
// that section under the empty pass phrase. finish fails (and keeps the old
// file) when a value was too long or a write failed.
struct RecordStreamWriter {
    AtomicFileWriter file;
    std::string entryName;
    uint32_t typeCode = kRecordWideText;
    std::string pending;  // image bytes not yet written as base64
    uint64_t blockLength = 0;
    bool anyValue = false;
    bool failed = false;
};
bool beginRecordStream(RecordStreamWriter& writer, const std::wstring& path, const std::string& entryName,
                       uint32_t typeCode);
void appendRecordStreamText(RecordStreamWriter& writer, std::string_view value);
bool finishRecordStream(RecordStreamWriter& writer);

// Direction 0 enciphers, 1 deciphers; bytes after the last whole block drop.
std::string permuteDataBlocks(std::string_view bytes, std::string_view passPhrase, int direction);
// Reflected CRC-32 (polynomial 0xEDB88320); a previous result as seed continues it.
uint32_t computeCrc32(uint32_t seed, std::string_view bytes);

std::string base64Convert(std::string_view bytes);
// Stops at the first "=" or NUL; false (and `bytes` empty) on any other
// character outside the alphabet.
bool base64Decode(std::string_view text, std::string& bytes);
