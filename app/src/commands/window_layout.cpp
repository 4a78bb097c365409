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
                                                            unsigned dpi) {
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
      case ControlKind::Status:
        rects[i] = {scaled(CONTROL_MARGIN), client_height - scaled(STATUS_BOTTOM_GAP), width,
                    scaled(STATUS_HEIGHT)};
        break;
    }
  }
  return rects;
}

}  // namespace qovira
