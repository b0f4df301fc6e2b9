#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <unistd.h>

#include "foundation/data_packet.h"
#include "platform/atomic_file.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

RecordSectionHandle freshSection(DataRecord& document, const std::string& name = "s") {
    addRecordSection(document, name);
    return getRecordSection(document, name);
}

std::string hexOf(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The block permutation done the slow way, bit by bit, straight from its
// description; the product's table-driven form must agree with it.
std::string referencePermute(std::string_view bytes, std::string_view pass, int direction) {
    std::string key(pass.substr(0, 16));
    key.resize(16, ' ');
    std::vector<uint32_t> words;
    for (char c : key) words.push_back(static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c))));
    std::seed_seq seeds(words.begin(), words.end());
    std::mt19937 generator(seeds);
    int p[64];
    for (int i = 0; i < 64; ++i) p[i] = i;
    for (uint32_t r = 64; r > 0; --r) {
        const uint32_t j = static_cast<uint32_t>((static_cast<uint64_t>(generator()) * 64) >> 32) % r;
        std::swap(p[j], p[r - 1]);
    }
    std::string out;
    for (size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        uint64_t x = 0;
        for (int b = 0; b < 8; ++b) x = (x << 8) | static_cast<unsigned char>(bytes[at + b]);
        uint64_t y = 0;
        for (int i = 0; i < 64; ++i) {
            if (direction == 0) y |= ((x >> p[i]) & 1) << (63 - i);
            else y |= ((x >> (63 - i)) & 1) << p[i];
        }
        for (int b = 7; b >= 0; --b) out += static_cast<char>((y >> (8 * b)) & 0xFF);
    }
    return out;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string decoded(std::string_view text) {
    std::string bytes;
    EXPECT_TRUE(base64Decode(text, bytes));
    return bytes;
}

// A section of a few hundred entries of every type.
void fillEverything(RecordSectionHandle s, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        setRecordString(s, "s" + n, "narrow " + n, 0);
        setRecordString(s, "s" + n, std::string("\0with NUL\xFF", 10), 9999);
        setRecordWString(s, "w" + n, L"wide \u00DC\u65E5 " + std::wstring(n.begin(), n.end()), 0);
        setRecordInt32(s, "i" + n, -static_cast<int32_t>(i) * 1000);
        setRecordUInt32(s, "u" + n, static_cast<uint32_t>(i) * 7u);
        setRecordDouble(s, "d" + n, static_cast<double>(i) / 3.0);
        setRecordValue(s, "h" + n, "\x01\x02\x03\x04\x05", 1, 0);  // 2-byte pieces, a short last one
    }
}

}  // namespace

TEST(DataPacket, ImageBytesAndParse) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordString(s, "a", "xy", 0);
    EXPECT_EQ(hexOf(serializeRecordSection(s)), "01006101000400000002007879");
    setRecordInt32(s, "b", 1);
    setRecordDouble(s, "c", 1.0);
    EXPECT_EQ(hexOf(serializeRecordSection(s)),
              "01006101000400000002007879"
              "01006201" "02" "04000000" "01000000" "01006301" "05" "08000000" "000000000000f03f");

    // Empty entries write a zero block and vanish on reading; type 7 and
    // codes past 7 are skipped; a cut block or header ends the parse.
    std::string image = serializeRecordSection(s);
    image += std::string("\x01\x00" "e\x01\x00\x00\x00\x00\x00", 9);
    image += std::string("\x01\x00" "f\x01\x07\x01\x00\x00\x00" "z", 10);
    image += std::string("\x01\x00" "g\x01\x86\x01\x00\x00\x00" "z", 10);
    image += std::string("\x01\x00" "h\x01\x00\x09\x00\x00\x00\x05\x00" "ab", 13);  // block cut short
    DataRecord target;
    RecordSectionHandle t = freshSection(target);
    EXPECT_TRUE(parseRecordSection(t, image));
    EXPECT_EQ(serializeRecordSection(t), serializeRecordSection(s));

    // Within a whole block a text longer than the block is cut at its end.
    RecordSectionHandle u = freshSection(target, "u");
    parseRecordSection(u, std::string("\x01\x00" "k\x01\x00\x05\x00\x00\x00\x09\x00" "abc", 14));
    std::string out;
    ASSERT_TRUE(getRecordString(u, "k", out, 0));
    EXPECT_EQ(out, "abc");
    for (size_t cut = 0; cut < image.size(); ++cut) parseRecordSection(u, std::string_view(image).substr(0, cut));
}

TEST(DataPacket, PaddingAndPermutation) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordString(s, "a", "xy", 0);  // a 13-byte image
    std::string text;
    ASSERT_TRUE(packDataRecord(s, "", text));
    EXPECT_EQ(text, base64Convert(serializeRecordSection(s)));
    ASSERT_TRUE(packDataRecord(s, kDataFilePassPhrase, text));
    const std::string outer = referencePermute(decoded(text), kDataFilePassPhrase, 1);
    EXPECT_EQ(decoded(text).size() % 8, 0u);

    // The packet holds the image padded with 3 zero bytes (13 -> 16), enciphered.
    DataRecord packetDocument;
    RecordSectionHandle packet = freshSection(packetDocument, "packet");
    parseRecordSection(packet, outer);
    std::string data;
    ASSERT_TRUE(getRecordString(packet, "data", data, 0));
    ASSERT_EQ(data.size(), 16u);
    EXPECT_EQ(referencePermute(data, kDataFilePassPhrase, 1), serializeRecordSection(s) + std::string(3, '\0'));
    int32_t crc = 0;
    ASSERT_TRUE(getRecordInt32(packet, "crc32", crc));
    EXPECT_EQ(static_cast<uint32_t>(crc), computeCrc32(0, data));

    // A 16-byte image gets 8 zero bytes.
    DataRecord other;
    RecordSectionHandle s16 = freshSection(other);
    setRecordString(s16, "a", "xyzab", 0);
    ASSERT_EQ(serializeRecordSection(s16).size(), 16u);
    ASSERT_TRUE(packDataRecord(s16, kDataFilePassPhrase, text));
    RecordSectionHandle packet16 = freshSection(packetDocument, "p16");
    parseRecordSection(packet16, permuteDataBlocks(decoded(text), kDataFilePassPhrase, 1));
    ASSERT_TRUE(getRecordString(packet16, "data", data, 0));
    EXPECT_EQ(data.size(), 24u);

    // The fast permutation equals the literal one, in both directions, and inverts.
    const std::string bytes = randomBytes(8 * 40 + 5, 7);
    for (std::string_view pass : {kDataFilePassPhrase, kStylePassPhrase, std::string_view("\xE9\x80zz")}) {
        const std::string sealed = permuteDataBlocks(bytes, pass, 0);
        EXPECT_EQ(sealed, referencePermute(bytes, pass, 0));
        EXPECT_EQ(permuteDataBlocks(sealed, pass, 1), referencePermute(sealed, pass, 1));
        EXPECT_EQ(permuteDataBlocks(sealed, pass, 1), bytes.substr(0, 320));
    }
    // Only the first 16 bytes count; a short phrase is padded with blanks.
    EXPECT_EQ(permuteDataBlocks(bytes, "Br4mbl3#2.71c0d3", 0), permuteDataBlocks(bytes, kDataFilePassPhrase, 0));
    EXPECT_EQ(permuteDataBlocks(bytes, "ab", 0), permuteDataBlocks(bytes, "ab              ", 0));
    EXPECT_NE(permuteDataBlocks(bytes, "ab", 0), permuteDataBlocks(bytes, "ac", 0));
}

TEST(DataPacket, KnownFileTextStaysTheSame) {
    // Pins the stored form: any change here breaks every existing data file.
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordString(s, "a", "xy", 0);
    std::string text;
    ASSERT_TRUE(packDataRecord(s, kDataFilePassPhrase, text));
    EXPECT_EQ(text, "gDKETCiq2QqIRHFIa0ISEWCzAEBqQF8JAAACASAAAAAAIAAABAAjQLAABBARgIAB");
}

TEST(DataPacket, Crc32) {
    EXPECT_EQ(computeCrc32(0, "123456789"), 0xCBF43926u);
    EXPECT_EQ(computeCrc32(0, "abc"), 0x352441C2u);
    EXPECT_EQ(computeCrc32(0, ""), 0u);
    EXPECT_EQ(computeCrc32(computeCrc32(0, "a"), "bc"), 0x352441C2u);
}

TEST(DataPacket, Base64) {
    EXPECT_EQ(base64Convert(""), "");
    EXPECT_EQ(base64Convert("f"), "Zg==");
    EXPECT_EQ(base64Convert("fo"), "Zm8=");
    EXPECT_EQ(base64Convert("foo"), "Zm9v");
    EXPECT_EQ(base64Convert("foob"), "Zm9vYg==");
    EXPECT_EQ(base64Convert(std::string("\xFB\xFF\xBF", 3)), "+/+/");
    const std::string bytes = randomBytes(1000, 3);
    EXPECT_EQ(decoded(base64Convert(bytes)), bytes);

    EXPECT_EQ(decoded("Zm9vYg=="), "foob");
    EXPECT_EQ(decoded("Zm9vYg"), "foob");            // padding optional
    EXPECT_EQ(decoded("Zm9v=Zm9v"), "foo");          // stops at "="
    EXPECT_EQ(decoded(std::string("Zm9v\0Zm9v", 9)), "foo");  // and at NUL
    EXPECT_EQ(decoded("Z"), "");                     // 6 bits make no byte
    std::string out = "x";
    EXPECT_FALSE(base64Decode("Zm9v\nYg==", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(base64Decode("Zm-v", out));
    EXPECT_FALSE(base64Decode("\xC3\x9C", out));
}

TEST(DataPacket, RoundTripsWithAndWithoutPassPhrase) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    fillEverything(s, 300);
    const std::string image = serializeRecordSection(s);
    for (std::string_view pass : {kDataFilePassPhrase, kStylePassPhrase, std::string_view()}) {
        std::string text;
        ASSERT_TRUE(packDataRecord(s, pass, text));
        DataRecord target;
        RecordSectionHandle back = freshSection(target);
        ASSERT_TRUE(unpackDataRecord(back, text, pass));
        EXPECT_EQ(serializeRecordSection(back), image);
        if (!pass.empty()) {
            RecordSectionHandle wrong = freshSection(target, "wrong");
            EXPECT_FALSE(unpackDataRecord(wrong, text, "another phrase"));
            EXPECT_EQ(serializeRecordSection(wrong), "");
        }
    }
    std::string empty;
    DataRecord blank;
    RecordSectionHandle none = freshSection(blank);
    ASSERT_TRUE(packDataRecord(none, kDataFilePassPhrase, empty));
    EXPECT_EQ(empty, "");
    EXPECT_FALSE(unpackDataRecord(none, "", kDataFilePassPhrase));
}

TEST(DataPacket, LargeSectionsSplitTheDataValue) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    fillEverything(s, 2500);  // well over 65535 bytes
    for (int i = 0; i < 3; ++i) setRecordString(s, "big" + std::to_string(i), randomBytes(65535, i), 0);
    const std::string image = serializeRecordSection(s);
    ASSERT_GT(image.size(), 3u * 65535u);
    std::string text;
    ASSERT_TRUE(packDataRecord(s, kDataFilePassPhrase, text));

    DataRecord packetDocument;
    RecordSectionHandle packet = freshSection(packetDocument, "packet");
    parseRecordSection(packet, permuteDataBlocks(decoded(text), kDataFilePassPhrase, 1));
    EXPECT_GT(getRecordValueCount(packet, "data"), 3u);

    DataRecord target;
    RecordSectionHandle back = freshSection(target);
    ASSERT_TRUE(unpackDataRecord(back, text, kDataFilePassPhrase));
    EXPECT_EQ(serializeRecordSection(back), image);
    ASSERT_TRUE(packDataRecord(s, "", text));
    RecordSectionHandle plain = freshSection(target, "plain");
    ASSERT_TRUE(unpackDataRecord(plain, text, ""));
    EXPECT_EQ(serializeRecordSection(plain), image);

    // A single text value, or a name, that cannot carry its length is refused.
    setRecordString(s, "too long", std::string(65536, 'x'), 0);
    EXPECT_FALSE(packDataRecord(s, kDataFilePassPhrase, text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(packDataRecord(s, "", text));
    removeRecordValue(s, "too long", 9999);
    setRecordInt32(s, std::string(65536, 'n'), 1);
    EXPECT_FALSE(packDataRecord(s, kDataFilePassPhrase, text));
}

TEST(DataPacket, DamagedPacketFailsAndReadsNothing) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    fillEverything(s, 20);
    std::string text;
    ASSERT_TRUE(packDataRecord(s, kDataFilePassPhrase, text));
    const std::string outer = permuteDataBlocks(decoded(text), kDataFilePassPhrase, 1);

    // Change one byte of the "data" value (after the 17-byte crc32 entry and the 14-byte data header).
    std::string damaged = outer;
    damaged[17 + 14 + 100] ^= 0x10;
    DataRecord target;
    RecordSectionHandle back = freshSection(target);
    EXPECT_FALSE(unpackDataRecord(back, base64Convert(permuteDataBlocks(damaged, kDataFilePassPhrase, 0)),
                                  kDataFilePassPhrase));
    EXPECT_EQ(serializeRecordSection(back), "");

    // A packet without "crc32" or without "data" fails.
    DataRecord packets;
    RecordSectionHandle packet = freshSection(packets, "packet");
    parseRecordSection(packet, outer);
    for (const char* missing : {"crc32", "data"}) {
        DataRecord copy;
        RecordSectionHandle partial = freshSection(copy, "packet");
        parseRecordSection(partial, outer);
        removeRecordValue(partial, missing, 9999);
        const std::string image = serializeRecordSection(partial) + std::string(8, '\0');
        EXPECT_FALSE(unpackDataRecord(back, base64Convert(permuteDataBlocks(image, kDataFilePassPhrase, 0)),
                                      kDataFilePassPhrase));
    }
    EXPECT_FALSE(unpackDataRecord(back, std::string(text).insert(10, "\n"), kDataFilePassPhrase));  // outside the alphabet
    EXPECT_EQ(serializeRecordSection(back), "");
}

TEST(DataPacket, FilesSaveAtomicallyAndLoad) {
    const std::string folder = makeTestFolder("records");
    const std::wstring path(folder.begin(), folder.end());
    const std::wstring file = path + L"/Config \u00DC\u65E5.dat";
    DataRecord document;
    RecordSectionHandle s = freshSection(document, "main");
    fillEverything(s, 50);
    ASSERT_TRUE(saveDataRecordFile(document, "main", file, kDataFilePassPhrase));

    DataRecord loaded;
    ASSERT_TRUE(loadDataRecordFile(loaded, "main", file, kDataFilePassPhrase));
    EXPECT_EQ(serializeRecordSection(getRecordSection(loaded, "main")), serializeRecordSection(s));

    // Missing and empty files fail but leave the section created.
    DataRecord missing;
    EXPECT_FALSE(loadDataRecordFile(missing, "main", path + L"/none.dat", kDataFilePassPhrase));
    EXPECT_NE(getRecordSection(missing, "main"), nullptr);
    ASSERT_TRUE(saveDataRecordFile(document, "absent", path + L"/empty.dat", kDataFilePassPhrase));
    std::string bytes = "x";
    ASSERT_TRUE(readWholeFile(folder + "/empty.dat", bytes));
    EXPECT_EQ(bytes, "");
    EXPECT_FALSE(loadDataRecordFile(missing, "e", path + L"/empty.dat", kDataFilePassPhrase));
    EXPECT_NE(getRecordSection(missing, "e"), nullptr);

    // A save that cannot be framed fails and keeps the old file whole.
    std::string before;
    ASSERT_TRUE(readWholeFile(wideToUtf8(file), before));
    setRecordString(s, "huge", std::string(70000, 'h'), 0);
    EXPECT_FALSE(saveDataRecordFile(document, "main", file, kDataFilePassPhrase));
    std::string after;
    ASSERT_TRUE(readWholeFile(wideToUtf8(file), after));
    EXPECT_EQ(after, before);
}

TEST(DataPacket, StreamedSectionMatchesTheSavedFile) {
    const std::string folder = makeTestFolder("stream");
    const std::wstring path = utf8ToWide(folder);
    const auto streamed = [&](const std::wstring& file, const std::vector<std::string>& values) {
        RecordStreamWriter writer;
        if (!beginRecordStream(writer, file, "item", kRecordWideText)) return false;
        for (const std::string& value : values) appendRecordStreamText(writer, value);
        return finishRecordStream(writer);
    };
    // Many values across the writer's chunks, of lengths that leave every
    // remainder of a base64 group; then none at all (an empty file).
    for (size_t count : {size_t{0}, size_t{1}, size_t{5000}}) {
        std::vector<std::string> values;
        DataRecord document;
        RecordSectionHandle s = freshSection(document, "abc");
        for (size_t i = 0; i < count; ++i) {
            values.push_back(std::string(i % 37, static_cast<char>('a' + i % 26)) + "\xC3\x9C" + std::to_string(i));
            setRecordValue(s, "item", values.back(), kRecordWideText, kRecordAppend);
        }
        ASSERT_TRUE(saveDataRecordFile(document, "abc", path + L"/saved.md", ""));
        ASSERT_TRUE(streamed(path + L"/streamed.md", values));
        EXPECT_EQ(readTestFile(folder + "/streamed.md"), readTestFile(folder + "/saved.md")) << count;
    }
    // A value too long to read back fails and keeps the old file whole.
    const std::string before = readTestFile(folder + "/streamed.md");
    EXPECT_FALSE(streamed(path + L"/streamed.md", {"a", std::string(70000, 'h')}));
    EXPECT_EQ(readTestFile(folder + "/streamed.md"), before);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);  // no temporary file left behind
}
