#include "qovira/app/commands/window_layout.h"

#include <algorithm>
#include <cstdint>

namespace qovira {

int scale_to_dpi(int pixels, unsigned dpi) {
  const std::int64_t product = static_cast<std::int64_t>(pixels) * dpi;
  const std::int64_t half = DEFAULT_DPI / 2;
  const std::int64_t rounded = product >= 0
                                   ? (product + half) / DEFAULT_DPI
                                   : -((-product + half) / static_cast<std::int64_t>(DEFAULT_DPI));
  return static_cast<int>(rounded);
}

std::array<PixelRect, WINDOW_CONTROLS.size()> layout_window(int client_width, int client_height,
                                                            unsigned dpi, bool busy) {
  const auto scaled = [dpi](int pixels) { return scale_to_dpi(pixels, dpi); };
  const int minimum = scaled(REPORT_MINIMUM);
  const int width = std::max(client_width - 2 * scaled(CONTROL_MARGIN), minimum);
  const int report_height = std::max(client_height - scaled(REPORT_BOTTOM_GAP), minimum);

  std::array<PixelRect, WINDOW_CONTROLS.size()> rects{};
  for (std::size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
    const PixelRect& created = WINDOW_CONTROLS[i].rect;
    switch (WINDOW_CONTROLS[i].kind) {
      case ControlKind::Button:
        rects[i] = {scaled(created.x), scaled(created.y), scaled(created.width),
                    scaled(created.height)};
        break;
      case ControlKind::Report:
        rects[i] = {scaled(CONTROL_MARGIN), scaled(REPORT_TOP), width, report_height};
        break;
      case ControlKind::Status: {
        const int room = scaled(PROGRESS_WIDTH) + scaled(CANCEL_WIDTH) + 2 * scaled(CONTROL_GAP);
        rects[i] = {scaled(CONTROL_MARGIN), client_height - scaled(STATUS_BOTTOM_GAP),
                    busy ? std::max(width - room, 0) : width, scaled(STATUS_HEIGHT)};
        break;
      }
      case ControlKind::Progress:
        rects[i] = {scaled(CONTROL_MARGIN) + width - scaled(CANCEL_WIDTH) - scaled(CONTROL_GAP) -
                        scaled(PROGRESS_WIDTH),
                    client_height - scaled(STATUS_BOTTOM_GAP), scaled(PROGRESS_WIDTH),
                    scaled(STATUS_HEIGHT)};
        break;
      case ControlKind::Cancel:
        rects[i] = {scaled(CONTROL_MARGIN) + width - scaled(CANCEL_WIDTH),
                    client_height - scaled(CANCEL_BOTTOM_GAP), scaled(CANCEL_WIDTH),
                    scaled(CANCEL_HEIGHT)};
        break;
    }
  }
  return rects;
}

}  // namespace qovira
