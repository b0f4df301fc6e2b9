#include "shell/buttons.h"

#include <gtest/gtest.h>

#include "imgui_headless.h"

namespace {

void expectTriple(const double* triple, double h, double s, double v) {
    EXPECT_DOUBLE_EQ(triple[0], h);
    EXPECT_DOUBLE_EQ(triple[1], s);
    EXPECT_DOUBLE_EQ(triple[2], v);
}

// Draws `items` in a window at the top left; keeps each frame's result.
struct RowScene {
    std::vector<UIButtonRowItem> items;
    bool applyStates = true;
    std::vector<int32_t> results;
    std::function<void()> draw() {
        return [this] {
            ImGui::SetNextWindowPos(ImVec2(0, 0));
            ImGui::SetNextWindowSize(ImVec2(800, 200));
            ImGui::Begin("row", nullptr, ImGuiWindowFlags_NoDecoration);
            results.push_back(drawButtonRow(items, applyStates));
            ImGui::End();
        };
    }
    // The row's button centres, left to right.
    std::vector<ImVec2> buttons(HeadlessImGui& ui) {
        ui.frame(draw());
        ui.frame(draw());
        ImGuiWindow* window = HeadlessImGui::findWindow("row");
        const float y = window->DC.CursorPosPrevLine.y + ImGui::GetFrameHeight() / 2;
        return ui.findItems(draw(), ImVec2(0, y), ImVec2(799, y));
    }
    bool anyPressed() const {
        for (int32_t r : results)
            if (r != -1) return true;
        return false;
    }
};

UIButtonRowItem rowItem(const char* key, int32_t state) {
    UIButtonRowItem item;
    item.key = key;
    item.state = state;
    return item;
}

}  // namespace

TEST(ButtonTable, EntriesStatesAndLabels) {
    UIButtonEntry fresh;
    EXPECT_EQ(fresh.state, 0);
    for (double c : fresh.colors) EXPECT_DOUBLE_EQ(c, 1.0);
    for (double c : fresh.currentColors) EXPECT_DOUBLE_EQ(c, 1.0);

    initUIButtonTable();
    EXPECT_EQ(getUIButtonValue("bka"), kButtonEnabled);
    EXPECT_EQ(getUIButtonValue("bkmdcan"), kButtonEnabled);
    EXPECT_EQ(getUIButtonValue("bkrf"), kButtonDisabled);
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonDisabled);
    EXPECT_EQ(getUIButtonValue("nope"), 0);

    UIButtonEntry ok;
    ASSERT_TRUE(findUIButtonEntry("bkmdok", ok));
    EXPECT_EQ(ok.currentLabel, "   Ok   ");
    expectTriple(ok.colors, 0.5, 0.6, 0.6);
    expectTriple(ok.colors + 3, 0.5, 0.7, 0.7);
    expectTriple(ok.colors + 6, 0.5, 0.8, 0.8);
    expectTriple(ok.colors + 9, 0.5, 0.3, 0.2);
    expectTriple(ok.currentColors + 6, 0.5, 0.8, 0.8);

    ASSERT_TRUE(setUIButtonState("bkmdok", kButtonDisabled));
    ASSERT_TRUE(findUIButtonEntry("bkmdok", ok));
    EXPECT_EQ(ok.currentLabel, "    Ok    ");
    for (int t = 0; t < 3; ++t) expectTriple(ok.currentColors + t * 3, 0.5, 0.3, 0.2);

    // Unknown states change nothing.
    EXPECT_FALSE(setUIButtonState("bkmdok", 0));
    EXPECT_FALSE(setUIButtonState("bkmdok", 4));
    EXPECT_FALSE(setUIButtonState("nope", 2));
    EXPECT_EQ(getUIButtonValue("bkmdok"), kButtonDisabled);

    // Labels: the current label follows the state.
    EXPECT_FALSE(setUIButtonLabels("bkmdok", nullptr, nullptr));
    EXPECT_FALSE(setUIButtonLabels("nope", "a", "b"));
    ASSERT_TRUE(setUIButtonLabels("bkmdok", nullptr, " off "));
    ASSERT_TRUE(findUIButtonEntry("bkmdok", ok));
    EXPECT_EQ(ok.label1, "   Ok   ");
    EXPECT_EQ(ok.currentLabel, " off ");

    // A new entry enters disabled; adding it again replaces it.
    UIButtonEntry mine;
    mine.label1 = "one";
    mine.label2 = "two";
    EXPECT_TRUE(addUIButtonEntry("mine", mine));
    EXPECT_EQ(getUIButtonValue("mine"), kButtonDisabled);
    ASSERT_TRUE(findUIButtonEntry("mine", mine));
    EXPECT_EQ(mine.currentLabel, "two");
    initUIButtonTable();
    ASSERT_TRUE(findUIButtonEntry("bkmdok", ok));
    EXPECT_EQ(ok.label2, "    Ok    ");
    EXPECT_FALSE(findUIButtonEntry("missing", ok));
}

TEST(ButtonTable, RowPressesFollowStates) {
    HeadlessImGui ui;
    initUIButtonTable();

    RowScene empty;
    ui.frame(empty.draw());
    EXPECT_EQ(empty.results.back(), -1);

    RowScene row;
    row.items = {rowItem("bka", kButtonEnabled), rowItem("bkd", kButtonDisabled)};
    std::vector<ImVec2> buttons = row.buttons(ui);
    ASSERT_EQ(buttons.size(), 2u);

    row.results.clear();
    ui.click(row.draw(), buttons[1]);
    EXPECT_FALSE(row.anyPressed()) << "a disabled button ignores a press";
    EXPECT_EQ(getUIButtonValue("bkd"), kButtonDisabled);

    row.results.clear();
    ui.click(row.draw(), buttons[0]);
    ASSERT_EQ(row.results.size(), 4u);
    EXPECT_EQ(row.results[2], 0) << "the release frame reports the first button";
    EXPECT_EQ(row.results[0] + row.results[1] + row.results[3], -3);

    // Enabling the second one makes its press count.
    row.items[1].state = kButtonEnabled;
    row.results.clear();
    ui.click(row.draw(), buttons[1]);
    EXPECT_EQ(row.results[2], 1);

    // Without apply-states the table's own state rules.
    row.applyStates = false;
    setUIButtonState("bkd", kButtonDisabled);
    row.results.clear();
    ui.click(row.draw(), buttons[1]);
    EXPECT_FALSE(row.anyPressed());
}

TEST(ButtonTable, HiddenButtonTakesNoRoomAndLabelsChangeNextFrame) {
    HeadlessImGui ui;
    initUIButtonTable();

    RowScene plain;
    plain.items = {rowItem("bka", kButtonEnabled), rowItem("bkd", kButtonEnabled)};
    const std::vector<ImVec2> expected = plain.buttons(ui);

    RowScene hidden;
    hidden.items = {rowItem("bka", kButtonEnabled), rowItem("bkr", kButtonHidden), rowItem("bkd", kButtonEnabled)};
    const std::vector<ImVec2> found = hidden.buttons(ui);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_FLOAT_EQ(found[1].x, expected[1].x);
    hidden.results.clear();
    ui.click(hidden.draw(), found[1]);
    EXPECT_EQ(hidden.results[2], 2) << "the index counts the hidden item";

    // An item label is written to the table; the old label shows this frame.
    RowScene relabel;
    relabel.items = {rowItem("bkd", kButtonEnabled)};
    relabel.items[0].label1 = " More ";
    relabel.items[0].label2 = "  More  ";
    relabel.items[0].valueFactor = 0.5;
    ui.frame(relabel.draw());
    UIButtonEntry entry;
    ASSERT_TRUE(findUIButtonEntry("bkd", entry));
    EXPECT_EQ(entry.currentLabel, " More ");
    EXPECT_DOUBLE_EQ(entry.currentColors[2], 0.6) << "darkening applies to the drawing only";

    // Unknown keys draw nothing and are never pressed.
    RowScene unknown;
    unknown.items = {rowItem("nope", kButtonEnabled)};
    EXPECT_TRUE(unknown.buttons(ui).empty());

    int32_t single = 0;
    int32_t missing = 0;
    ui.frame([&] {
        ImGui::Begin("one");
        single = drawTableButtonWithLabels("bkrf", " Go ", nullptr);
        missing = drawTableButtonWithLabels("nope", " Go ", nullptr);
        ImGui::End();
    });
    EXPECT_EQ(single, 0);
    EXPECT_EQ(missing, -1);
}
