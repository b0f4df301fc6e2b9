#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/paths.h"
#include "platform/text.h"

TEST(Text, Utf8RoundTripKeepsEveryByteSequence) {
    const std::string valid = "plain \xC3\xA9t\xC3\xA9 \xE2\x97\x8F \xF0\x9F\x98\x80";
    EXPECT_EQ(utf8ToWide(valid), L"plain \u00e9t\u00e9 \u25cf \U0001F600");
    EXPECT_EQ(wideToUtf8(utf8ToWide(valid)), valid);

    // Invalid bytes: a lone continuation, a cut sequence, an overlong form,
    // an encoded surrogate and a byte past F4. Each must come back unchanged.
    const std::string invalid = std::string("a\x80") + "b\xC3" + "\xC0\xAF" + "\xED\xA0\x80" + "\xFF";
    const std::wstring wide = utf8ToWide(invalid);
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0xDC80 + 0x80));
    EXPECT_EQ(wideToUtf8(wide), invalid);

    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToUtf8(L""), "");
    // A real surrogate in wide text cannot be written as UTF-8.
    EXPECT_EQ(wideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Paths, KeyKeepsCaseAndFolderTestStopsAtSeparator) {
    EXPECT_EQ(pathKey(L"/Home/Ann/File.TXT"), L"/Home/Ann/File.TXT");
    EXPECT_TRUE(pathIsInside(L"/data/x", L"/data"));
    EXPECT_TRUE(pathIsInside(L"/data/x", L"/data/"));
    EXPECT_TRUE(pathIsInside(L"/data", L"/data"));
    EXPECT_FALSE(pathIsInside(L"/data2/x", L"/data"));
    EXPECT_FALSE(pathIsInside(L"/Data/x", L"/data"));
    EXPECT_TRUE(pathIsInside(L"/anything", L"/"));
    EXPECT_FALSE(pathIsInside(L"/data", L""));
}

TEST(Paths, TextOperationsKeepOneRuleAtEveryEdge) {
    struct Case {
        const wchar_t *path, *trimmed, *withSeparator, *joined, *parent, *last;
    };
    const Case cases[] = {
        {L"/", L"/", L"/", L"/n", L"", L""},
        {L"//", L"/", L"/", L"/n", L"", L""},
        {L"", L"", L"", L"n", L"", L""},
        {L"/a", L"/a", L"/a/", L"/a/n", L"/", L"a"},
        {L"/a/b//", L"/a/b", L"/a/b/", L"/a/b/n", L"/a", L"b"},
        {L"/a//b", L"/a//b", L"/a//b/", L"/a//b/n", L"/a", L"b"},
        {L"a", L"a", L"a/", L"a/n", L"", L"a"},
        {L"a/b/", L"a/b", L"a/b/", L"a/b/n", L"a", L"b"},
        {L"/x/na\\me\\", L"/x/na\\me\\", L"/x/na\\me\\/", L"/x/na\\me\\/n", L"/x", L"na\\me\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(wideToUtf8(c.path));
        EXPECT_EQ(withoutTrailingSeparators(c.path), c.trimmed);
        EXPECT_EQ(withTrailingSeparator(c.path), c.withSeparator);
        EXPECT_EQ(joinPath(c.path, L"n"), c.joined);
        EXPECT_EQ(parentFolder(c.path), c.parent);
        EXPECT_EQ(lastPathComponent(c.path), c.last);
        const std::string narrow = wideToUtf8(c.path);
        EXPECT_EQ(withoutTrailingSeparators(narrow), wideToUtf8(c.trimmed));
        EXPECT_EQ(joinPath(narrow, "n"), wideToUtf8(c.joined));
        EXPECT_EQ(parentFolder(narrow), wideToUtf8(c.parent));
    }
}

TEST(Paths, EnvironmentDefaultsFollowHomeAndXdg) {
    // The test main already applied the defaults from the temp HOME.
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(std::string(std::getenv("USERPROFILE")), home);
    EXPECT_EQ(std::string(std::getenv("LOCALAPPDATA")), std::string(std::getenv("XDG_DATA_HOME")));
    EXPECT_EQ(std::string(std::getenv("APPDATA")), std::string(std::getenv("XDG_CONFIG_HOME")));
    EXPECT_EQ(std::string(std::getenv("PUBLIC")), home + "/Public");
    EXPECT_EQ(std::string(std::getenv("SystemDrive")), "");
    // A value already set is kept.
    setenv("PUBLIC", "/srv/public", 1);
    applyPlatformEnvironmentDefaults();
    EXPECT_EQ(std::string(std::getenv("PUBLIC")), "/srv/public");
}
