#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "platform/text.h"

namespace {

RecordSectionHandle freshSection(DataRecord& document, const std::string& name = "s") {
    addRecordSection(document, name);
    return getRecordSection(document, name);
}

std::vector<std::string> entryNames(RecordSectionHandle section) {
    std::vector<std::string> names;
    for (const auto& [name, entry] : copyRecordEntries(section)) names.push_back(name);
    return names;
}

// Packs and unpacks one section into a fresh document.
RecordSectionHandle throughFile(RecordSectionHandle section, DataRecord& target) {
    std::string text;
    EXPECT_TRUE(packDataRecord(section, kDataFilePassPhrase, text));
    RecordSectionHandle back = freshSection(target, "back");
    EXPECT_TRUE(unpackDataRecord(back, text, kDataFilePassPhrase));
    return back;
}

}  // namespace

TEST(DataRecord, SectionsAndHandles) {
    DataRecord document;
    EXPECT_EQ(getRecordSection(document, "main"), nullptr);
    EXPECT_TRUE(addRecordSection(document, "main"));
    RecordSectionHandle main = getRecordSection(document, "main");
    setRecordString(main, "k", "v", 0);
    EXPECT_FALSE(addRecordSection(document, "main"));  // the existing one stays
    EXPECT_EQ(getRecordSection(document, "main"), main);
    EXPECT_EQ(getRecordValueCount(main, "k"), 1u);

    // A null handle never crashes a caller.
    std::string out = "keep";
    EXPECT_FALSE(setRecordString(nullptr, "k", "v", 0));
    EXPECT_FALSE(getRecordString(nullptr, "k", out, 0));
    EXPECT_EQ(getRecordValueCount(nullptr, "k"), 0u);
    EXPECT_EQ(getRecordTypedText(nullptr, "k"), "");

    EXPECT_TRUE(addRecordSection(appDataRecord, "record-test"));
    EXPECT_TRUE(removeRecordSection("record-test"));
    EXPECT_FALSE(removeRecordSection("record-test"));
    EXPECT_EQ(getRecordSection(appDataRecord, "record-test"), nullptr);
}

TEST(DataRecord, SetValueReplacesAppendsAndRetypes) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordString(s, "list", "a", 0);
    setRecordString(s, "list", "b", 9999);
    setRecordString(s, "list", "c", 9999);
    EXPECT_EQ(getRecordValueCount(s, "list"), 3u);
    setRecordString(s, "list", "B", 1);
    std::string out;
    ASSERT_TRUE(getRecordString(s, "list", out, 1));
    EXPECT_EQ(out, "B");
    setRecordString(s, "list", "d", kRecordAppend);
    EXPECT_EQ(getRecordValueCount(s, "list"), 4u);

    // A new type replaces the entry whole.
    setRecordInt32(s, "list", 7);
    EXPECT_EQ(getRecordValueCount(s, "list"), 1u);
    ASSERT_TRUE(getRecordValue(s, "list", out, kRecordInt32, 0));
    EXPECT_EQ(out.size(), 4u);
    EXPECT_FALSE(getRecordString(s, "list", out, 0));

    // The index of a new entry is ignored.
    setRecordString(s, "fresh", "x", 5);
    EXPECT_TRUE(getRecordString(s, "fresh", out, 0));
}

TEST(DataRecord, TypedGettersCheckTypeSizeAndIndex) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordInt32(s, "i", -5);
    setRecordUInt32(s, "u", 0xFFFFFFF0u);
    setRecordDouble(s, "d", 2.5);
    setRecordValue(s, "short", "abc", kRecordInt32, 0);

    int32_t i = 1;
    uint32_t u = 1;
    double d = 1;
    EXPECT_TRUE(getRecordInt32(s, "i", i));
    EXPECT_EQ(i, -5);
    EXPECT_TRUE(getRecordUInt32(s, "u", u));
    EXPECT_EQ(u, 0xFFFFFFF0u);
    EXPECT_TRUE(getRecordDouble(s, "d", d));
    EXPECT_EQ(d, 2.5);

    // Codes 2 and 4 never read each other; wrong sizes and missing entries fail untouched.
    i = 42;
    u = 43;
    EXPECT_FALSE(getRecordInt32(s, "u", i));
    EXPECT_FALSE(getRecordUInt32(s, "i", u));
    EXPECT_FALSE(getRecordInt32(s, "short", i));
    EXPECT_FALSE(getRecordInt32(s, "missing", i));
    EXPECT_FALSE(getRecordDouble(s, "i", d));
    EXPECT_EQ(i, 42);
    EXPECT_EQ(u, 43u);
    std::string text = "keep";
    EXPECT_FALSE(getRecordValue(s, "i", text, kRecordInt32, 1));
    EXPECT_EQ(text, "keep");

    std::string raw;
    ASSERT_TRUE(getRecordValue(s, "i", raw, kRecordInt32, 0));
    EXPECT_EQ(raw, std::string("\xFB\xFF\xFF\xFF", 4));  // little-endian
}

TEST(DataRecord, RemoveAndClear) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    setRecordString(s, "one", "x", 0);
    EXPECT_TRUE(removeRecordValue(s, "one", 0));
    EXPECT_EQ(getRecordValueCount(s, "one"), 0u);
    EXPECT_FALSE(removeRecordValue(s, "one", 0));

    for (const char* v : {"a", "b", "c"}) setRecordString(s, "three", v, 9999);
    EXPECT_TRUE(removeRecordValue(s, "three", 0));
    std::string out;
    ASSERT_TRUE(getRecordString(s, "three", out, 0));
    EXPECT_EQ(out, "b");
    EXPECT_EQ(getRecordValueCount(s, "three"), 2u);
    EXPECT_TRUE(removeRecordValue(s, "three", 9999));  // past the end: the whole entry
    EXPECT_EQ(entryNames(s), std::vector<std::string>{});

    for (const char* v : {"a", "b", "c"}) setRecordString(s, "cleared", v, 9999);
    setRecordString(s, "kept", "k", 0);
    EXPECT_TRUE(clearRecordEntry(s, "cleared"));
    EXPECT_EQ(getRecordValueCount(s, "cleared"), 0u);
    EXPECT_EQ(entryNames(s), (std::vector<std::string>{"cleared", "kept"}));
    DataRecord target;
    EXPECT_EQ(entryNames(throughFile(s, target)), std::vector<std::string>{"kept"});  // gone after a save
    setRecordString(s, "single", "x", 0);
    EXPECT_TRUE(clearRecordEntry(s, "single"));
    EXPECT_FALSE(clearRecordEntry(s, "single"));
}

TEST(DataRecord, OrderIsBytewiseUnsigned) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    for (const char* name : {"ab", "\xC3\x9C", "a", "B"}) setRecordString(s, name, "v", 0);
    EXPECT_EQ(entryNames(s), (std::vector<std::string>{"B", "a", "ab", "\xC3\x9C"}));
}

TEST(DataRecord, TypedTextCarriesTypeAndFirstValue) {
    DataRecord document;
    RecordSectionHandle from = freshSection(document, "from");
    RecordSectionHandle to = freshSection(document, "to");
    setRecordInt32(from, "crc32", 0x12345678);
    const std::string text = getRecordTypedText(from, "crc32");
    EXPECT_EQ(text, base64Convert(std::string("\x02\x00\x78\x56\x34\x12", 6)));
    setRecordTypedText(to, "copy", text);
    int32_t value = 0;
    ASSERT_TRUE(getRecordInt32(to, "copy", value));
    EXPECT_EQ(value, 0x12345678);
    EXPECT_EQ(getRecordTypedText(from, "missing"), "");

    setRecordValue(from, "odd", "zz", 0x0107, 0);
    setRecordTypedText(to, "odd", getRecordTypedText(from, "odd"));
    std::string raw;
    EXPECT_TRUE(getRecordValue(to, "odd", raw, 0x0107, 0));

    EXPECT_THROW(setRecordTypedText(to, "bad", "QQ=="), std::out_of_range);  // one byte
    EXPECT_THROW(setRecordTypedText(to, "bad", ""), std::out_of_range);
    EXPECT_THROW(setRecordTypedText(to, "bad", "!!!!"), std::out_of_range);
}

TEST(DataRecord, WideTextIsUtf8AndInvalidBytesComeBackUnchanged) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    const std::wstring latin = L"\u00DCber";
    const std::wstring beyond = L"\u65E5\u672C \U0001F600 \u0141\u00F3d\u017A";
    setRecordWString(s, "latin", latin, 0);
    setRecordWString(s, "beyond", beyond, 0);
    std::string raw;
    ASSERT_TRUE(getRecordValue(s, "latin", raw, kRecordWideText, 0));
    EXPECT_EQ(raw, "\xC3\x9C" "ber");

    DataRecord target;
    RecordSectionHandle back = throughFile(s, target);
    std::wstring out;
    ASSERT_TRUE(getRecordWString(back, "latin", out, 0));
    EXPECT_EQ(out, latin);
    ASSERT_TRUE(getRecordWString(back, "beyond", out, 0));
    EXPECT_EQ(out, beyond);

    // An invalid byte keeps its own escape and leaves the other characters alone.
    const std::string mixed = "caf\xE9 \xE6\x97\xA5";
    setRecordValue(s, "mixed", mixed, kRecordWideText, 0);
    ASSERT_TRUE(getRecordWString(s, "mixed", out, 0));
    EXPECT_EQ(out, L"caf" + utf8ToWide("\xE9") + L" \u65E5");
    setRecordWString(s, "again", out, 0);
    ASSERT_TRUE(getRecordValue(s, "again", raw, kRecordWideText, 0));
    EXPECT_EQ(raw, mixed);
    EXPECT_FALSE(getRecordWString(s, "missing", out, 0));
}

TEST(DataRecord, DocumentIsSafeFromSeveralThreads) {
    DataRecord document;
    RecordSectionHandle s = freshSection(document);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "t" + std::to_string(t);
            for (int i = 0; i < 2000; ++i) {
                setRecordString(s, name, std::to_string(i), kRecordAppend);
                setRecordInt32(s, "shared", i);
                std::string packed;
                if (i % 500 == 0) packDataRecord(s, kDataFilePassPhrase, packed);
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(getRecordValueCount(s, "t" + std::to_string(t)), 2000u);
}
