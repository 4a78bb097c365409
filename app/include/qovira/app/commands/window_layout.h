// What the Win32 and the Qt window share: their texts, their nine controls, and where the
// controls go for a client area of a given size at a given DPI. Sizes are pixels at 96 DPI (100 %),
// scaled to the window's DPI.
//
// The window title is also the file description in the Windows version resource, so it is a
// macro the resource compiler can read as well.
#pragma once

#define QOVIRA_WINDOW_TITLE "岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb"

#ifndef RC_INVOKED

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "qovira/app/commands/window_commands.h"

namespace qovira {

inline constexpr std::string_view WINDOW_TITLE = QOVIRA_WINDOW_TITLE;
// The caption of every message box of the window.
inline constexpr std::string_view MESSAGE_CAPTION = "岚栖输入法编码导入器";
inline constexpr std::string_view INITIAL_STATUS =
    "打开或把文件拖进来：支持 Rime .dict.yaml、冰凌文本码表、极点 .mb　｜　命令行批量：--help";
// The entry of the window's menu (the system menu on Windows) that opens the About box.
inline constexpr std::string_view ABOUT_ENTRY = "关于(&A)…";

// The About box: the program, its version, its licence and where to report problems.
std::string about_text();

// The DPI at which every size below holds as it stands.
inline constexpr unsigned DEFAULT_DPI = 96;

inline constexpr int WINDOW_WIDTH = 1000;
inline constexpr int WINDOW_HEIGHT = 720;
// Character heights of the fonts (a font height of −18 in GDI's terms).
inline constexpr int INTERFACE_FONT_HEIGHT = 18;
inline constexpr int REPORT_FONT_HEIGHT = 16;

// The layout rule: the report area and the status bar follow the client area, each at least this
// wide, the report area at least this high.
inline constexpr int CONTROL_MARGIN = 12;
inline constexpr int REPORT_TOP = 52;
inline constexpr int REPORT_BOTTOM_GAP = 90;  // from the report area's top to the client's bottom
inline constexpr int REPORT_MINIMUM = 80;
inline constexpr int STATUS_BOTTOM_GAP = 26;  // from the status bar's top to the client's bottom
inline constexpr int STATUS_HEIGHT = 22;
// While a command works, the progress bar and the cancel button end the status row; the status
// bar is shortened to leave them room. The cancel button stands a little taller than the row.
inline constexpr int CONTROL_GAP = 8;
inline constexpr int PROGRESS_WIDTH = 200;
inline constexpr int CANCEL_WIDTH = 80;
inline constexpr int CANCEL_BOTTOM_GAP = 28;
inline constexpr int CANCEL_HEIGHT = 26;

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Buttons are the commands' row; the progress bar and the cancel button are shown only while a
// command works.
enum class ControlKind : std::uint8_t { Button, Report, Status, Progress, Cancel };

// One control of the window. `rect` is where it is created; the report area, the status bar, the
// progress bar and the cancel button then follow the layout rule. A text's "&" marks the letter
// that, with Alt, presses the button.
struct ControlDescriptor {
  int id;
  ControlKind kind;
  std::string_view text;
  PixelRect rect;
  // What a button runs; null for the report area, the status bar and the progress bar.
  void (WindowCommands::*command)();
};

inline constexpr int OPEN_ID = 1001;
inline constexpr int REPAIR_ID = 1002;
inline constexpr int EXPORT_ID = 1003;
inline constexpr int SAVE_REPORT_ID = 1004;
inline constexpr int RESCUE_ID = 1005;
inline constexpr int CANCEL_ID = 1006;
inline constexpr int CONVERT_ID = 1007;
inline constexpr int REPORT_ID = 1010;
inline constexpr int STATUS_ID = 1011;
inline constexpr int PROGRESS_ID = 1012;

// In creation order, which is also the order of the buttons from left to right and the order the
// Tab key walks.
// clang-format off
inline constexpr std::array<ControlDescriptor, 10> WINDOW_CONTROLS = {{
    {OPEN_ID,        ControlKind::Button,   "打开码表(&O)…",            {12, 10, 140, 30},   &WindowCommands::open_table},
    {REPAIR_ID,      ControlKind::Button,   "自动修复并另存(&F)",       {160, 10, 170, 30},  &WindowCommands::repair_and_save},
    {EXPORT_ID,      ControlKind::Button,   "导出 .mb(&E)",             {338, 10, 110, 30},  &WindowCommands::export_mb},
    {RESCUE_ID,      ControlKind::Button,   "一键救急（修复→.mb）(&R)", {456, 10, 230, 30},  &WindowCommands::rescue},
    {SAVE_REPORT_ID, ControlKind::Button,   "保存报告(&S)",             {694, 10, 110, 30},  &WindowCommands::save_report},
    {CONVERT_ID,     ControlKind::Button,   "转成文本码表(&T)…",        {812, 10, 150, 30},  &WindowCommands::convert_to_text},
    {REPORT_ID,      ControlKind::Report,   "",                         {12, 52, 960, 600},  nullptr},
    {STATUS_ID,      ControlKind::Status,   INITIAL_STATUS,             {12, 660, 960, 22},  nullptr},
    {PROGRESS_ID,    ControlKind::Progress, "",                         {684, 660, 200, 22}, nullptr},
    {CANCEL_ID,      ControlKind::Cancel,   "取消",                     {892, 658, 80, 26},  &WindowCommands::cancel},
}};
// clang-format on

// A 96-DPI length at `dpi`, rounded to the nearest pixel (halves away from zero); negative lengths
// (GDI font heights) scale alike.
int scale_to_dpi(int pixels, unsigned dpi);

// Where each control of WINDOW_CONTROLS goes, in the same order, for a client area of
// `client_width` × `client_height` pixels at `dpi`. At 96 DPI:
// - the buttons stay where they were created;
// - w = W − 24, at least 80;
// - the report area at (12, 52), w × (H − 90), at least 80 high;
// - the status bar at (12, H − 26), w × 22; while `busy`, (w − 296) × 22, at least 0 wide;
// - the cancel button at (w − 68, H − 28), 80 × 26, the progress bar 8 to its left, 200 × 22.
std::array<PixelRect, WINDOW_CONTROLS.size()> layout_window(int client_width, int client_height,
                                                            unsigned dpi, bool busy = false);

}  // namespace qovira

#endif  // RC_INVOKED
