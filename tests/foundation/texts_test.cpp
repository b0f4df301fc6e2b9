#include "foundation/texts.h"

#include <gtest/gtest.h>

TEST(Texts, WelcomeAndTemplates) {
    const std::vector<std::string>& lines = welcomeTextLines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "Hello and Welcome,");
    EXPECT_EQ(lines[5].rfind("\t\t1. Automatically when a file changes in a selected watch folder (", 0), 0u);
    EXPECT_EQ(lines[7], " ");
    EXPECT_EQ(lines[11], "Thanks again for choosing \"Varnholt\"");

    for (const ConfirmTemplate* t :
         {&kRestoreOverwriteTemplate, &kArchiveDeletionTemplate, &kRestoreSuccessTemplate, &kCancelRestoreTemplate,
          &kSlowBackupTemplate, &kBackupInterruptedTemplate, &kRemoveBackupSetTemplate,
          &kRemoveFolderEntryTemplate}) {
        const std::string body = t->body;
        EXPECT_EQ(body.back(), '\n') << t->title << ": only lines ending in a line break are shown";
    }
    EXPECT_EQ(kRestoreSuccessTemplate.buttonMask, 1);

    // The file being copied and the folder's name are different placeholders.
    const std::string slow = fillTemplate(kSlowBackupTemplate.body, {{kPlaceholderDuration, "00:01:05"},
                                                                     {kPlaceholderCompletionRatio, "42%"},
                                                                     {kPlaceholderDisplayName, "WRONG"},
                                                                     {kPlaceholderFileName, "a.txt"},
                                                                     {kPlaceholderUnprocessedCount, "7"}});
    EXPECT_EQ(slow,
              "Elapsed Time: 00:01:05, Progress: 42%\nFile: a.txt\nUnprocessed Count: 7\n"
              "If the backup device is slow, more time will help\n[OK] to extend the time\n"
              "[CANCEL] to abort this operation.\n");
    const std::string restored = fillTemplate(
        kRestoreSuccessTemplate.body,
        {{kPlaceholderDisplayName, "Docs"}, {kPlaceholderDuration, "00:00:03"}, {kPlaceholderFileCount, "3"}});
    EXPECT_EQ(restored, "Docs\nDuration: 00:00:03.\nFiles: 3\n[OK] to continue.\n");

    // Every occurrence is replaced, and a value holding its own placeholder ends.
    EXPECT_EQ(fillTemplate("{{x}}-{{x}}", {{"{{x}}", "a{{x}}"}}), "a{{x}}-a{{x}}");
    EXPECT_EQ(fillTemplate("keep", {{"", "z"}}), "keep");
}

TEST(Texts, ReportLines) {
    ReportLineRecord details;
    details.kind = 2;
    details.field2 = "Details:";
    EXPECT_EQ(joinRecordFields(details), "2[|] [|]Details:[|] ");

    ReportLineRecord full;
    full.kind = -8;
    full.field1 = "one";
    full.field2 = "two";
    full.field3 = "three";
    EXPECT_EQ(joinRecordFields(full), "-8[|]one[|]two[|]three");
}
