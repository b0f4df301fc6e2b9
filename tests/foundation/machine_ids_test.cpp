#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "foundation/machine_ids.h"
#include "foundation/sha256.h"
#include "platform/machine_id.h"

TEST(MachineIds, NewUuidTextsAreDistinctLowerCase) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string text = newUuidText();
        ASSERT_EQ(text.size(), 36u);
        for (size_t p = 0; p < text.size(); ++p) {
            if (p == 8 || p == 13 || p == 18 || p == 23)
                EXPECT_EQ(text[p], '-');
            else
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(text[p])) && !std::isupper(text[p])) << text;
        }
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(MachineIds, HardwareProfileGuidForm) {
    EXPECT_EQ(formatMachineIdAsGuid("0123456789abcdef0123456789ABCDEF"), "{01234567-89ab-cdef-0123-456789ABCDEF}");
    EXPECT_EQ(formatMachineIdAsGuid(""), "");
    EXPECT_EQ(formatMachineIdAsGuid("0123456789abcdef0123456789abcde"), "");
    EXPECT_EQ(formatMachineIdAsGuid("0123456789abcdef0123456789abcdeg"), "");

    const std::string guid = getHardwareProfileGuid();
    if (readMachineId().empty()) GTEST_SKIP() << "no machine id on this system";
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    EXPECT_EQ(getHardwareProfileGuid(), guid);
    // Never the machine id itself; a stored raw id is replaced, others stay.
    const std::string raw = formatMachineIdAsGuid(readMachineId());
    EXPECT_NE(guid, raw);
    EXPECT_EQ(withoutRawMachineId(raw), guid);
    EXPECT_EQ(withoutRawMachineId("{x}"), "{x}");
}

TEST(MachineIds, IdentifierIsAnApplicationKeyedHashOfTheMachineId) {
    const Sha256Digest abc = sha256("abc");
    EXPECT_EQ(abc[0], 0xba);
    EXPECT_EQ(abc[31], 0xad);
    const Sha256Digest mac = hmacSha256("key", "The quick brown fox jumps over the lazy dog");
    EXPECT_EQ(mac[0], 0xf7);
    EXPECT_EQ(mac[31], 0xd8);
    EXPECT_EQ(hardwareGuidFromMachineId("0123456789abcdef0123456789abcdef"), "{fd728709-d890-49f5-88d5-c9e58da2df76}");
    EXPECT_EQ(hardwareGuidFromMachineId("not hex"), "");
}
