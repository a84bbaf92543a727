// The window's control table: the facts the layout and tab order rest on.
#include "app/Controls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace velmo {
namespace {

TEST(Controls, TableIsIndexedByIdAndNamesAreUnique) {
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        EXPECT_EQ(kControls[i].id, static_cast<ControlId>(i));
        EXPECT_TRUE(names.insert(kControls[i].name).second) << kControls[i].name;
    }
    EXPECT_EQ(kControls.size(), 24u);
}

TEST(Controls, GeometryAt96Dpi) {
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 96), 791);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips, 96), 426);
    for (const Control& c : kControls) {
        if (c.kind == ControlKind::Dialog)
            continue;
        EXPECT_LE(c.left + c.width, kClientWidthTwips) << c.name;
        EXPECT_LE(c.top + c.height, kClientHeightTwips) << c.name;
    }
    // Portraits: rows share a top, columns a left, all the same size.
    const ControlId rows[2][4] = {
        {EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, EisenmarkEditor},
        {SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, SturmtalEditor}};
    for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(ControlOf(rows[0][col]).left, ControlOf(rows[1][col]).left);
        for (int row = 0; row < 2; ++row) {
            EXPECT_EQ(ControlOf(rows[row][col]).top, ControlOf(rows[row][0]).top);
            EXPECT_EQ(TwipsToPixels(ControlOf(rows[row][col]).width, 96), 61);
            EXPECT_EQ(TwipsToPixels(ControlOf(rows[row][col]).height, 96), 60);
        }
    }
}

TEST(Controls, TabAndStackingOrders) {
    std::vector<std::pair<int, std::string_view>> tab, stack;
    for (const Control& c : kControls) {
        if (c.tabIndex >= 0)
            tab.push_back({c.tabIndex, c.name});
        if (c.stacking >= 0)
            stack.push_back({c.stacking, c.name});
        // Drawn controls have no window of their own, so no place in the stacking.
        const bool drawn = c.kind == ControlKind::Label || c.kind == ControlKind::Image ||
                           c.kind == ControlKind::Dialog;
        EXPECT_EQ(c.stacking < 0, drawn) << c.name;
    }
    std::sort(tab.begin(), tab.end());
    std::sort(stack.begin(), stack.end());
    std::vector<std::string_view> tabNames, stackNames;
    for (auto& t : tab)
        tabNames.push_back(t.second);
    for (auto& s : stack)
        stackNames.push_back(s.second);
    EXPECT_EQ(tabNames, (std::vector<std::string_view>{
                            "Command1", "Picture7", "UmlauteWeg", "UmlauteZurueck", "Meldung",
                            "Sicherung", "Normal", "Debug", "Geschlossen", "Editor", "Eisenmark",
                            "Sturmtal", "Picture3", "Nixda"}));
    EXPECT_EQ(stackNames, (std::vector<std::string_view>{
                              "Nixda", "Picture3", "Sturmtal", "Eisenmark", "Sicherung", "Meldung",
                              "UmlauteZurueck", "UmlauteWeg", "Picture7", "Command1"}));

    // What the window walks with Tab and stacks: only controls with a window.
    auto names = [](const std::vector<ControlId>& ids) {
        std::vector<std::string_view> list;
        for (ControlId id : ids)
            list.push_back(ControlOf(id).name);
        return list;
    };
    EXPECT_EQ(names(TabOrder()),
              (std::vector<std::string_view>{"Command1", "Picture7", "UmlauteWeg", "UmlauteZurueck",
                                             "Meldung", "Sicherung", "Eisenmark", "Sturmtal",
                                             "Picture3", "Nixda"}));
    EXPECT_EQ(names(StackingOrder()), stackNames);
}

} // namespace
} // namespace velmo
