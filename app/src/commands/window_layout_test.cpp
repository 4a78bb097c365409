#include "qovira/app/commands/window_layout.h"

#include <gtest/gtest.h>

namespace qovira {
namespace {

PixelRect rect_of(const std::array<PixelRect, WINDOW_CONTROLS.size()>& rects, int id) {
  for (std::size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
    if (WINDOW_CONTROLS[i].id == id) {
      return rects[i];
    }
  }
  ADD_FAILURE() << "no control " << id;
  return {};
}

TEST(WindowLayoutTest, ControlsInCreationOrderWithTheirTextsAndCommands) {
  const std::array<int, 10> ids = {OPEN_ID,    REPAIR_ID, EXPORT_ID, RESCUE_ID,   SAVE_REPORT_ID,
                                   CONVERT_ID, REPORT_ID, STATUS_ID, PROGRESS_ID, CANCEL_ID};
  for (std::size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
    const ControlDescriptor& control = WINDOW_CONTROLS[i];
    EXPECT_EQ(control.id, ids[i]);
    EXPECT_EQ(control.command != nullptr,
              control.kind == ControlKind::Button || control.kind == ControlKind::Cancel)
        << control.id;
  }
  EXPECT_EQ(WINDOW_CONTROLS[0].text, "打开码表(&O)…");
  EXPECT_EQ(WINDOW_CONTROLS[3].text, "一键救急（修复→.mb）(&R)");
  EXPECT_EQ(WINDOW_CONTROLS[3].command, &WindowCommands::rescue);
  EXPECT_EQ(WINDOW_CONTROLS[4].command, &WindowCommands::save_report);
  EXPECT_EQ(WINDOW_CONTROLS[5].command, &WindowCommands::convert_to_text);
  EXPECT_EQ(WINDOW_CONTROLS[7].text, INITIAL_STATUS);
  EXPECT_EQ(WINDOW_CONTROLS[9].text, "取消");
  EXPECT_EQ(WINDOW_CONTROLS[9].command, &WindowCommands::cancel);
  // The two separators of the first status text are ideographic spaces.
  EXPECT_NE(INITIAL_STATUS.find("\u3000｜\u3000"), std::string_view::npos);
}

TEST(WindowLayoutTest, ScalingRoundsToTheNearestPixel) {
  EXPECT_EQ(scale_to_dpi(12, 96), 12);
  EXPECT_EQ(scale_to_dpi(12, 144), 18);
  EXPECT_EQ(scale_to_dpi(-18, 144), -27);
  EXPECT_EQ(scale_to_dpi(-18, 120), -23);  // 22.5, away from zero
  EXPECT_EQ(scale_to_dpi(22, 120), 28);    // 27.5
  EXPECT_EQ(scale_to_dpi(10, 110), 11);    // 11.46
  EXPECT_EQ(scale_to_dpi(1000, 192), 2000);
  EXPECT_EQ(scale_to_dpi(0, 144), 0);
}

TEST(WindowLayoutTest, At96DpiTheButtonsStayAndTheRestFollowsTheClientArea) {
  // The client area of the 1000 × 720 window on Windows 10.
  const auto rects = layout_window(984, 681, 96);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(rects[i], WINDOW_CONTROLS[i].rect) << WINDOW_CONTROLS[i].id;
  }
  EXPECT_EQ(rect_of(rects, REPORT_ID), (PixelRect{12, 52, 960, 591}));
  EXPECT_EQ(rect_of(rects, STATUS_ID), (PixelRect{12, 655, 960, 22}));
  const auto wider = layout_window(1200, 800, 96);
  EXPECT_EQ(rect_of(wider, REPORT_ID), (PixelRect{12, 52, 1176, 710}));
  EXPECT_EQ(rect_of(wider, STATUS_ID), (PixelRect{12, 774, 1176, 22}));
  EXPECT_EQ(rect_of(wider, RESCUE_ID), (PixelRect{456, 10, 230, 30}));
  // The row ends within the report area's margin.
  EXPECT_LE(rect_of(rects, CONVERT_ID).x + rect_of(rects, CONVERT_ID).width, 984 - 12);
}

TEST(WindowLayoutTest, WhileBusyTheProgressBarAndCancelButtonEndTheStatusRow) {
  const auto rects = layout_window(984, 681, 96, true);
  EXPECT_EQ(rect_of(rects, STATUS_ID), (PixelRect{12, 655, 664, 22}));
  EXPECT_EQ(rect_of(rects, PROGRESS_ID), (PixelRect{684, 655, 200, 22}));
  EXPECT_EQ(rect_of(rects, CANCEL_ID), (PixelRect{892, 653, 80, 26}));
  EXPECT_EQ(rect_of(rects, REPORT_ID), rect_of(layout_window(984, 681, 96), REPORT_ID));
  EXPECT_EQ(rect_of(layout_window(50, 100, 96, true), STATUS_ID), (PixelRect{12, 74, 0, 22}));
}

TEST(WindowLayoutTest, ATinyWindowKeepsTheReportAreaAt80) {
  const auto rects = layout_window(50, 100, 96);
  EXPECT_EQ(rect_of(rects, REPORT_ID), (PixelRect{12, 52, 80, 80}));
  EXPECT_EQ(rect_of(rects, STATUS_ID), (PixelRect{12, 74, 80, 22}));
  // H − 90 = 81 is the first height that follows the window.
  EXPECT_EQ(rect_of(layout_window(104, 170, 96), REPORT_ID), (PixelRect{12, 52, 80, 80}));
  EXPECT_EQ(rect_of(layout_window(105, 171, 96), REPORT_ID), (PixelRect{12, 52, 81, 81}));
}

TEST(WindowLayoutTest, At144DpiEverythingIsOneAndAHalfTimesAsLarge) {
  const auto base = layout_window(984, 712, 96);
  const auto scaled = layout_window(984 * 3 / 2, 712 * 3 / 2, 144);
  for (std::size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
    EXPECT_EQ(scaled[i], (PixelRect{base[i].x * 3 / 2, base[i].y * 3 / 2, base[i].width * 3 / 2,
                                    base[i].height * 3 / 2}))
        << WINDOW_CONTROLS[i].id;
  }
  // The minimum sizes scale too.
  EXPECT_EQ(rect_of(layout_window(60, 100, 144), REPORT_ID), (PixelRect{18, 78, 120, 120}));
  EXPECT_EQ(rect_of(layout_window(60, 100, 144), STATUS_ID), (PixelRect{18, 61, 120, 33}));
}

TEST(WindowLayoutTest, At120DpiTheMarginsStayEqual) {
  const auto rects = layout_window(1230, 890, 120);
  const PixelRect report = rect_of(rects, REPORT_ID);
  EXPECT_EQ(report, (PixelRect{15, 65, 1200, 777}));
  EXPECT_EQ(1230 - (report.x + report.width), report.x);
  EXPECT_EQ(rect_of(rects, STATUS_ID), (PixelRect{15, 857, 1200, 28}));  // 22 × 1.25 = 27.5
  EXPECT_EQ(rect_of(rects, OPEN_ID), (PixelRect{15, 13, 175, 38}));      // 12.5 and 37.5 round up
}

}  // namespace
}  // namespace qovira
