#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json_reader.h"

namespace {

using Strings = std::vector<std::wstring>;

struct Case {
    const wchar_t* text;
    const wchar_t* path;
    Strings expected;  // empty: the path has no value
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        JsonPathMap map;
        walkJsonDocument(map, c.text);
        Strings values;
        EXPECT_EQ(findJsonValue(map, c.path, values), c.expected.size()) << c.text << " " << c.path;
        EXPECT_EQ(values, c.expected) << c.text << " " << c.path;
    }
}

TEST(JsonReader, LeavesOfEveryKind) {
    expectCases({
        {L"{\"data\":\"abc\"}", L"/data", {L"abc"}},
        {L"{'a':'x'}", L"/a", {L"x"}},
        {L"{ \"a\" \t:\n 1 , \"b\": true, \"c\": null, \"d\": falsey}", L"/a", {L"1"}},
        {L"{\"a\": 1, \"b\": true}", L"/b", {L"true"}},
        {L"{\"a\": 1, \"c\": null}", L"/c", {L"null"}},
        {L"{\"d\": falsey}", L"/d", {L"falsey"}},
        {L"{\"n\":-1.5e3}", L"/n", {L"-1.5"}},
        {L"{\"s\":\"a\\\"b\"}", L"/s", {L"a\\"}},  // no escapes
        {L"{\"k\":[\"x\",\"y\"],\"z\":\"w\"}", L"/k", {L"x", L"y"}},
        {L"{\"k\":[\"x\",\"y\"],\"z\":\"w\"}", L"/z", {L"w"}},
        {L"{\"k\":[1, 2 ,3]}", L"/k", {L"1", L"2", L"3"}},
        {L"{\"k\":[\"a\", 5, \"b\"]}", L"/k", {L"a", L"b"}},  // the first element decides
        {L"{\"k\":[]}", L"/k", {}},
        {L"{\"k\":[\"a\", \"b", L"/k", {}},  // cut off: the object has no end
        {L"{\"a\":\"x\",\"a\":\"y\"}", L"/a", {L"x"}},  // the first wins
        {L"{\"a\":1}", L"/b", {}},
        {L"{\"\":1,\"b\":2}", L"/b", {L"2"}},  // an empty key moves past its ":"
    });
}

TEST(JsonReader, NestedObjectsAndQuotedBraces) {
    expectCases({
        {L"{\"a\":{\"b\":1,\"c\":{\"d\":true}}}", L"/a/b", {L"1"}},
        {L"{\"a\":{\"b\":1,\"c\":{\"d\":true}}}", L"/a/c/d", {L"true"}},
        {L"{\"a\":{\"b\":1,\"c\":{\"d\":true}}}", L"/a", {}},
        {L"{\"a\":{\"b\":1}}", L"/a/b", {L"1"}},
        {L"{\"a\":{\"b\":\"}\"},\"c\":\"{\"}", L"/a/b", {L"}"}},
        {L"{\"a\":{\"b\":\"}\"},\"c\":\"{\"}", L"/c", {L"{"}},
        // An apostrophe inside double quotes does not hide the braces after it.
        {L"{\"a\":{\"t\":\"it's\"},\"b\":{\"c\":2}}", L"/b/c", {L"2"}},
        {L"{\"a\":{\"t\":\"say \\\"hi\\\"\"},\"x\":1}", L"/x", {L"1"}},
        // A member after the inner object is not taken for one of the inner object.
        {L"{\"a\":{\"b\":1},\"c\":3}", L"/a/c", {}},
        {L"{\"a\":{\"b\":1},\"c\":3}", L"/c", {L"3"}},
        // The outer object's leaves are entered before the inner object's.
        {L"{\"a\":{\"\":\"inner\"},\"a/\":\"outer\"}", L"/a/", {L"outer"}},
        {L"text before {\"a\":1} after", L"/a", {L"1"}},
    });
}

TEST(JsonReader, WithoutAnObjectTheWalkFails) {
    for (const wchar_t* text : {L"", L"abc", L"{\"a\":1", L"\"a\":1}", L"}{"}) {
        JsonPathMap map;
        EXPECT_FALSE(walkJsonDocument(map, text)) << text;
        EXPECT_TRUE(map.empty()) << text;
    }
    size_t position = 3;
    EXPECT_EQ(readJsonKey(L"abc", position), L"");
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(readJsonValue(L"abc", position).kind, JsonValueKind::None);
    position = 0;
    const JsonValue object = readJsonValue(L"{\"a\":{}}x", position);
    EXPECT_EQ(object.kind, JsonValueKind::Object);
    EXPECT_EQ(object.start, 0);
    EXPECT_EQ(object.end, 7);
    EXPECT_EQ(position, 7u);
}

TEST(JsonReader, HostileInputIsCapped) {
    JsonPathMap map;
    EXPECT_FALSE(walkJsonDocument(map, L"{\"a\":1}" + std::wstring(kMaxJsonTextLength, L' ')));

    std::wstring deep, close;
    for (size_t i = 0; i < kMaxJsonDepth + 5; ++i) {
        deep += L"{\"k\":1,\"o\":";
        close += L"}";
    }
    deep += L"{}" + close;
    EXPECT_TRUE(walkJsonDocument(map, deep));
    EXPECT_EQ(map.size(), kMaxJsonDepth + 1);  // "/k", "/o/k", ... down to the deepest walked level

    map.clear();
    const std::wstring longKey(kMaxJsonKeyLength + 100, L'k');
    EXPECT_TRUE(walkJsonDocument(map, L"{\"" + longKey + L"\":1}"));
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.begin()->first, L"/" + longKey.substr(0, kMaxJsonKeyLength));

    map.clear();
    std::wstring many = L"{";
    for (size_t i = 0; i < kMaxJsonEntries + 10; ++i) many += L"\"" + std::to_wstring(i) + L"\":1,";
    EXPECT_TRUE(walkJsonDocument(map, many + L"}"));
    EXPECT_EQ(map.size(), kMaxJsonEntries);
}

}  // namespace
