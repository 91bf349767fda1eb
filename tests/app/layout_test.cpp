// The layout arithmetic at several display resolutions, and the drag limits for every edge.
#include <gtest/gtest.h>

#include "shell.h"

namespace {

const CONTROL_INFO &entry(int id)
{
    for (const CONTROL_INFO *c = g_controls;; ++c)
        if (c->id == id || c->id == IDC_END)
            return *c;
}

struct DpiCase {
    int dpi, win_w, win_h, id;
    CONTROL_RECT want;
};

TEST(Layout, ControlsScaleWithResolutionAndWindowSize)
{
    const DpiCase cases[] = {
        {96, 524, 160, IDC_EDIT_FILE, {8, 16, 501, 16}},    {96, 524, 160, IDC_LABEL_SHA1, {16, 77, 80, 12}},
        {120, 524, 160, IDC_EDIT_FILE, {10, 20, 626, 20}},  {120, 524, 160, IDC_CALC_ALL, {486, 46, 50, 68}},
        {144, 524, 160, IDC_EDIT_FILE, {12, 24, 752, 24}},  {144, 524, 160, IDC_COPY_SHA1, {648, 112, 116, 26}},
        {96, 1048, 320, IDC_EDIT_FILE, {16, 32, 1002, 32}}, {96, 1048, 160, IDC_EDIT_FILE, {16, 16, 1002, 16}},
        {96, 700, 200, IDC_EDIT_FILE, {10, 20, 669, 20}},   {96, 700, 200, IDC_CALC_ALL, {520, 46, 53, 68}},
        {96, 80, 20, IDC_EDIT_FILE, {0, 1, 76, 1}},
    };
    for (const DpiCase &c : cases) {
        CONTROL_RECT r = layout_rect(entry(c.id), c.dpi, c.win_w, c.win_h);
        EXPECT_EQ(r.x, c.want.x) << c.dpi << " dpi " << c.win_w << "x" << c.win_h << " id " << c.id;
        EXPECT_EQ(r.y, c.want.y) << c.dpi << " dpi " << c.win_w << "x" << c.win_h << " id " << c.id;
        EXPECT_EQ(r.width, c.want.width) << c.dpi << " dpi " << c.win_w << "x" << c.win_h;
        EXPECT_EQ(r.height, c.want.height) << c.dpi << " dpi " << c.win_w << "x" << c.win_h;
    }
}

TEST(Layout, RightColumnRunsPastTheBaseWindowAt120Dpi)
{
    CONTROL_RECT r = layout_rect(entry(IDC_COPY_CRC32), 120, 524, 160);
    EXPECT_EQ(r.x + r.width, 636);
}

TEST(Layout, FontFollowsTheSmallerStretch)
{
    struct {
        int w, h, pt;
    } cases[] = {
        {524, 160, 6},  {1048, 320, 12}, {1048, 160, 6}, {524, 320, 6}, {700, 200, 7},
        {1000, 200, 7}, {524, 26, 0},    {87, 160, 0},   {88, 160, 1},  {2620, 800, 30},
    };
    for (auto &c : cases)
        EXPECT_EQ(font_point_size(c.w, c.h), c.pt) << c.w << "x" << c.h;
}

TEST(Layout, FontCellHeightConvertsTheSizeTwice)
{
    struct {
        int dpi, pt, cell;
    } cases[] = {
        {96, 6, 10}, {120, 6, 16}, {144, 6, 24}, {96, 12, 21}, {96, 7, 12}, {96, 0, 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(font_cell_height(c.dpi, c.pt), c.cell) << c.dpi << "/" << c.pt;
}

struct Drag {
    const char *name;
    WPARAM edge;
    RECT from, want;
};

TEST(Layout, DraggingHoldsTheMovingEdgeAtTheBaseSize)
{
    const Drag cases[] = {
        {"left", WMSZ_LEFT, {600, 300, 1000, 400}, {476, 300, 1000, 400}},
        {"right", WMSZ_RIGHT, {600, 300, 1000, 400}, {600, 300, 1124, 400}},
        {"top", WMSZ_TOP, {600, 300, 1200, 400}, {600, 240, 1200, 400}},
        {"bottom", WMSZ_BOTTOM, {600, 300, 1200, 400}, {600, 300, 1200, 460}},
        {"top left", WMSZ_TOPLEFT, {600, 300, 900, 400}, {376, 240, 900, 400}},
        {"top right", WMSZ_TOPRIGHT, {600, 300, 900, 400}, {600, 240, 1124, 400}},
        {"bottom left", WMSZ_BOTTOMLEFT, {600, 300, 900, 400}, {376, 300, 900, 460}},
        {"bottom right", WMSZ_BOTTOMRIGHT, {600, 300, 900, 400}, {600, 300, 1124, 460}},
        {"top of a narrow window", WMSZ_TOP, {600, 300, 1000, 400}, {600, 240, 1000, 400}},
        {"bottom of a narrow window", WMSZ_BOTTOM, {600, 300, 1000, 400}, {600, 300, 1000, 460}},
        {"left of a low window", WMSZ_LEFT, {600, 300, 900, 350}, {376, 300, 900, 350}},
        {"right, large enough", WMSZ_RIGHT, {0, 0, 524, 160}, {0, 0, 524, 160}},
        {"corner, large enough", WMSZ_BOTTOMRIGHT, {0, 0, 800, 600}, {0, 0, 800, 600}},
        {"no edge", 0, {600, 300, 900, 350}, {600, 300, 900, 350}},
    };
    for (const Drag &c : cases) {
        RECT r = c.from;
        on_sizing(nullptr, c.edge, &r);
        EXPECT_EQ(r.left, c.want.left) << c.name;
        EXPECT_EQ(r.top, c.want.top) << c.name;
        EXPECT_EQ(r.right, c.want.right) << c.name;
        EXPECT_EQ(r.bottom, c.want.bottom) << c.name;
    }
}

} // namespace
