#include "foundation/data_packet.h"

#include <array>
#include <random>

#include "platform/text.h"

namespace {

// The packet's "data" value is cut into pieces that each fit a 16-bit length.
constexpr size_t kDataPieceBytes = 65528;  // whole 8-byte blocks
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendLittleEndian(std::string& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint64_t readLittleEndian(std::string_view bytes, size_t pos, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[pos + i])) << (8 * i);
    return value;
}

bool isTextType(uint32_t typeCode) {
    const uint32_t low = typeCode & 0xFF;
    return low == kRecordNarrowText || low == kRecordWideText;
}

// One entry record. With `strict`, a length that does not fit its field
// fails instead of being stored modulo 65536.
bool appendEntryImage(std::string& out, const std::string& name, const RecordEntry& entry, bool strict) {
    if (strict && name.size() > kMaxRecordTextBytes) return false;
    appendLittleEndian(out, name.size() & 0xFFFF, 2);
    out += name;
    out += '\x01';
    out += static_cast<char>(entry.typeCode & 0xFF);
    const size_t lengthAt = out.size();
    appendLittleEndian(out, 0, 4);
    const bool text = isTextType(entry.typeCode);
    for (const std::string& value : entry.values) {
        if (!text) {
            out += value;
            continue;
        }
        if (strict && value.size() > kMaxRecordTextBytes) return false;
        const size_t length = value.size() & 0xFFFF;
        appendLittleEndian(out, length, 2);
        out.append(value, 0, length);
    }
    const uint64_t blockLength = out.size() - lengthAt - 4;
    for (int i = 0; i < 4; ++i) out[lengthAt + i] = static_cast<char>((blockLength >> (8 * i)) & 0xFF);
    return true;
}

bool buildImage(const RecordEntryMap& entries, std::string& out, bool strict) {
    for (const auto& [name, entry] : entries) {
        if (!appendEntryImage(out, name, entry, strict)) return false;
    }
    return true;
}

// Zero padding to the next multiple of 8; a whole image still gets 8 bytes.
std::string padToBlocks(std::string bytes) {
    bytes.append(8 - bytes.size() % 8, '\0');
    return bytes;
}

// Stores the values of one value block; codes outside 0..7 and the reserved 7 are skipped.
void parseValueBlock(RecordSectionHandle section, const std::string& name, int typeCode, std::string_view block) {
    size_t piece = 0;
    switch (typeCode) {
        case 1: case 3: piece = 2; break;
        case 2: case 4: piece = 4; break;
        case 5: piece = 8; break;
        case 0: case 6: break;
        default: return;
    }
    uint32_t index = 0;
    size_t offset = 0;
    while (offset < block.size()) {
        std::string_view value;
        if (piece) {
            value = block.substr(offset, piece);
            offset += piece;
        } else {
            if (offset + 2 > block.size()) return;  // a cut length field
            const size_t length = readLittleEndian(block, offset, 2);
            value = block.substr(offset + 2, length);
            offset += 2 + length;
        }
        setRecordValue(section, name, std::string(value), static_cast<uint32_t>(typeCode), index++);
    }
}

// The 64 bit positions in the order the pass phrase shuffles them.
std::array<int, 64> shuffledPositions(std::string_view passPhrase) {
    std::string key(passPhrase.substr(0, 16));
    key.resize(16, ' ');
    std::array<uint32_t, 16> words{};
    for (int i = 0; i < 16; ++i) words[i] = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(key[i])));
    std::seed_seq seeds(words.begin(), words.end());
    std::mt19937 generator(seeds);
    std::array<int, 64> positions{};
    for (int i = 0; i < 64; ++i) positions[i] = i;
    for (uint32_t remaining = 64; remaining > 0; --remaining) {
        const uint64_t draw = generator();
        const uint32_t j = static_cast<uint32_t>((draw * 64) >> 32) % remaining;
        std::swap(positions[j], positions[remaining - 1]);
    }
    return positions;
}

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

std::array<int, 256> base64Values() {
    std::array<int, 256> values{};
    values.fill(-1);
    for (size_t i = 0; i < kBase64Alphabet.size(); ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    return values;
}

// Joins the values of the packet's "data" entry; false when there is none.
bool readPacketData(RecordSectionHandle packet, std::string& data) {
    const size_t count = getRecordValueCount(packet, "data");
    for (size_t i = 0; i < count; ++i) {
        std::string piece;
        if (!getRecordValue(packet, "data", piece, kRecordNarrowText, static_cast<uint32_t>(i))) return false;
        data += piece;
    }
    return count > 0;
}

}  // namespace

std::string serializeRecordSection(RecordSectionHandle section) {
    std::string image;
    buildImage(copyRecordEntries(section), image, false);
    return image;
}

bool parseRecordSection(RecordSectionHandle section, std::string_view bytes) {
    const size_t n = bytes.size();
    size_t pos = 0;
    while (pos + 3 <= n) {
        const size_t nameLength = readLittleEndian(bytes, pos, 2);
        const std::string name(bytes.substr(pos + 2, nameLength));
        const size_t p = pos + 2 + nameLength;
        if (p + 7 > n) break;  // marker, type code, block length and at least one byte
        const int typeCode = static_cast<signed char>(bytes[p + 1]);
        const size_t blockLength = readLittleEndian(bytes, p + 2, 4);
        if (blockLength > n - (p + 6)) break;  // a block cut short ends the parse
        parseValueBlock(section, name, typeCode, bytes.substr(p + 6, blockLength));
        pos = p + 6 + blockLength;
    }
    return true;
}

bool packDataRecord(RecordSectionHandle section, std::string_view passPhrase, std::string& text) {
    text.clear();
    std::string image;
    if (!buildImage(copyRecordEntries(section), image, true)) return false;
    if (image.empty()) return true;
    if (passPhrase.empty()) {
        text = base64Convert(image);
        return true;
    }
    const std::string sealed = permuteDataBlocks(padToBlocks(std::move(image)), passPhrase, 0);
    // The packet section, written directly: "crc32" sorts before "data".
    RecordEntry crcEntry{kRecordInt32, {std::string(4, '\0')}};
    const uint32_t crc = computeCrc32(0, sealed);
    for (int i = 0; i < 4; ++i) crcEntry.values[0][i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    RecordEntry dataEntry{kRecordNarrowText, {}};
    for (size_t at = 0; at < sealed.size(); at += kDataPieceBytes) dataEntry.values.push_back(sealed.substr(at, kDataPieceBytes));
    std::string outer;
    appendEntryImage(outer, "crc32", crcEntry, true);
    appendEntryImage(outer, "data", dataEntry, true);
    text = base64Convert(permuteDataBlocks(padToBlocks(std::move(outer)), passPhrase, 0));
    return true;
}

bool unpackDataRecord(RecordSectionHandle section, std::string_view text, std::string_view passPhrase) {
    if (!section || text.empty()) return false;
    std::string bytes;
    if (!base64Decode(text, bytes)) return false;
    if (passPhrase.empty()) return parseRecordSection(section, bytes);
    DataRecord packetDocument;
    addRecordSection(packetDocument, "packet");
    RecordSectionHandle packet = getRecordSection(packetDocument, "packet");
    parseRecordSection(packet, permuteDataBlocks(bytes, passPhrase, 1));
    int32_t storedCrc = 0;
    std::string data;
    if (!getRecordInt32(packet, "crc32", storedCrc) || !readPacketData(packet, data)) return false;
    if (computeCrc32(0, data) != static_cast<uint32_t>(storedCrc)) return false;
    return parseRecordSection(section, permuteDataBlocks(data, passPhrase, 1));
}

bool saveDataRecordFile(DataRecord& document, const std::string& sectionName, const std::wstring& path,
                        std::string_view passPhrase) {
    std::string text;
    if (!packDataRecord(getRecordSection(document, sectionName), passPhrase, text)) return false;
    return writeFileAtomically(wideToUtf8(path), text);
}

namespace {

constexpr size_t kStreamChunkBytes = 3 * 16384;  // whole base64 groups

// The entry's header (name, marker, type, block length) takes 12 bytes for a
// four-letter name: whole base64 groups, so it can be rewritten in place.
std::string streamHeader(const RecordStreamWriter& writer) {
    std::string header;
    appendLittleEndian(header, writer.entryName.size(), 2);
    header += writer.entryName;
    header += '\x01';
    header += static_cast<char>(writer.typeCode & 0xFF);
    appendLittleEndian(header, writer.blockLength, 4);
    return header;
}

void flushRecordStream(RecordStreamWriter& writer, bool all) {
    const size_t whole = all ? writer.pending.size() : writer.pending.size() / 3 * 3;
    if (!appendAtomicFile(writer.file, base64Convert(std::string_view(writer.pending).substr(0, whole))))
        writer.failed = true;
    writer.pending.erase(0, whole);
}

}  // namespace

bool beginRecordStream(RecordStreamWriter& writer, const std::wstring& path, const std::string& entryName,
                       uint32_t typeCode) {
    writer.entryName = entryName;
    writer.typeCode = typeCode;
    writer.pending.clear();
    writer.blockLength = 0;
    writer.anyValue = false;
    writer.failed = streamHeader(writer).size() % 3 != 0 || !isTextType(typeCode);
    return beginAtomicFile(writer.file, wideToUtf8(path)) && !writer.failed;
}

void appendRecordStreamText(RecordStreamWriter& writer, std::string_view value) {
    if (writer.failed) return;
    if (value.size() > kMaxRecordTextBytes) {
        writer.failed = true;
        return;
    }
    if (!writer.anyValue) writer.pending = streamHeader(writer);
    writer.anyValue = true;
    appendLittleEndian(writer.pending, value.size(), 2);
    writer.pending += value;
    writer.blockLength += 2 + value.size();
    if (writer.pending.size() >= kStreamChunkBytes) flushRecordStream(writer, false);
}

bool finishRecordStream(RecordStreamWriter& writer) {
    if (!writer.failed && writer.anyValue) {
        flushRecordStream(writer, true);
        // The block length is known only now.
        if (writer.blockLength > 0xFFFFFFFFu ||
            !writeAtomicFileAt(writer.file, 0, base64Convert(streamHeader(writer))))
            writer.failed = true;
    }
    if (writer.failed) {
        abandonAtomicFile(writer.file);
        return false;
    }
    return finishAtomicFile(writer.file);
}

bool loadDataRecordFile(DataRecord& document, const std::string& sectionName, const std::wstring& path,
                        std::string_view passPhrase) {
    addRecordSection(document, sectionName);
    std::string text;
    if (!readWholeFile(wideToUtf8(path), text)) return false;
    return unpackDataRecord(getRecordSection(document, sectionName), text, passPhrase);
}

std::string permuteDataBlocks(std::string_view bytes, std::string_view passPhrase, int direction) {
    const std::array<int, 64> positions = shuffledPositions(passPhrase);
    // Where each input bit (0 = least significant of the block) goes.
    std::array<int, 64> target{};
    for (int i = 0; i < 64; ++i) {
        if (direction == 0) target[positions[i]] = 63 - i;
        else target[63 - i] = positions[i];
    }
    // Per input byte (0 = most significant) and value, the output bits it sets.
    std::array<std::array<uint64_t, 256>, 8> spread{};
    for (int b = 0; b < 8; ++b) {
        for (unsigned v = 1; v < 256; ++v) {
            const int low = __builtin_ctz(v);
            spread[b][v] = spread[b][v & (v - 1)] | (uint64_t{1} << target[56 - 8 * b + low]);
        }
    }
    std::string out(bytes.size() / 8 * 8, '\0');
    for (size_t at = 0; at < out.size(); at += 8) {
        uint64_t result = 0;
        for (int b = 0; b < 8; ++b) result |= spread[b][static_cast<unsigned char>(bytes[at + b])];
        for (int b = 0; b < 8; ++b) out[at + b] = static_cast<char>((result >> (56 - 8 * b)) & 0xFF);
    }
    return out;
}

uint32_t computeCrc32(uint32_t seed, std::string_view bytes) {
    const auto& table = crcTable();
    uint32_t crc = ~seed;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string base64Convert(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = (static_cast<unsigned char>(bytes[i]) << 16) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 3; k >= 0; --k) text += kBase64Alphabet[(group >> (6 * k)) & 0x3F];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        text += kBase64Alphabet[(group >> 18) & 0x3F];
        text += kBase64Alphabet[(group >> 12) & 0x3F];
        text += rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

bool base64Decode(std::string_view text, std::string& bytes) {
    static const std::array<int, 256> values = base64Values();
    bytes.clear();
    bytes.reserve(text.size() / 4 * 3 + 3);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=' || c == '\0') break;
        const int value = values[static_cast<unsigned char>(c)];
        if (value < 0) {
            bytes.clear();
            return false;
        }
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}
