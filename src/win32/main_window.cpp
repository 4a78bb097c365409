#include "main_window.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "qovira/app/window_commands.h"
#include "wide_text.h"

namespace qovira::win32 {
namespace {

constexpr std::string_view WINDOW_TITLE = "岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb";
constexpr std::string_view MESSAGE_CAPTION = "岚栖输入法编码导入器";
constexpr std::string_view OPEN_BUTTON = "打开码表…";
constexpr std::string_view REPAIR_BUTTON = "自动修复并另存";
constexpr std::string_view EXPORT_BUTTON = "导出 .mb";
constexpr std::string_view RESCUE_BUTTON = "一键救急（修复→.mb）";
constexpr std::string_view SAVE_REPORT_BUTTON = "保存报告";
constexpr std::string_view INITIAL_STATUS =
    "打开或把文件拖进来：支持 Rime .dict.yaml、冰凌文本码表、极点 .mb　｜　命令行批量：--help";
constexpr std::string_view DROPPED_PATH_TOO_LONG =
    "拖进来的文件路径太长（超过 1023 个字符），打不开。请把文件移到路径短一些的文件夹里再试。";

constexpr wchar_t WINDOW_CLASS[] = L"QoviraTableToolWindow";
constexpr wchar_t INTERFACE_FACE[] = L"Microsoft YaHei UI";
constexpr wchar_t REPORT_FACE[] = L"Consolas";
constexpr int INTERFACE_FONT_HEIGHT = -18;
constexpr int REPORT_FONT_HEIGHT = -16;
constexpr int WINDOW_WIDTH = 1000;
constexpr int WINDOW_HEIGHT = 720;
// Path buffers of the dialogs and of a file drop, in UTF-16 units.
constexpr std::size_t PATH_BUFFER_UNITS = 1024;

enum ControlId : int {
  OPEN_ID = 1001,
  REPAIR_ID = 1002,
  EXPORT_ID = 1003,
  SAVE_REPORT_ID = 1004,
  RESCUE_ID = 1005,
  REPORT_ID = 1010,
  STATUS_ID = 1011,
};

struct ControlSpec {
  int id;
  const wchar_t* class_name;
  std::string_view text;
  int x, y, width, height;
  DWORD style;
  DWORD extended_style;
};

constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD REPORT_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                               WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL |
                               ES_AUTOVSCROLL;
// No prefix: an "&" in a file name is shown as it is, not as an underlined shortcut.
constexpr DWORD STATUS_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

// In creation order.
constexpr std::array<ControlSpec, 7> CONTROLS = {{
    {OPEN_ID, L"BUTTON", OPEN_BUTTON, 12, 10, 120, 30, BUTTON_STYLE, 0},
    {REPAIR_ID, L"BUTTON", REPAIR_BUTTON, 140, 10, 160, 30, BUTTON_STYLE, 0},
    {EXPORT_ID, L"BUTTON", EXPORT_BUTTON, 308, 10, 110, 30, BUTTON_STYLE, 0},
    {RESCUE_ID, L"BUTTON", RESCUE_BUTTON, 426, 10, 200, 30, BUTTON_STYLE, 0},
    {SAVE_REPORT_ID, L"BUTTON", SAVE_REPORT_BUTTON, 634, 10, 110, 30, BUTTON_STYLE, 0},
    {REPORT_ID, L"EDIT", "", 12, 52, 960, 600, REPORT_STYLE, WS_EX_CLIENTEDGE},
    {STATUS_ID, L"STATIC", INITIAL_STATUS, 12, 660, 960, 22, STATUS_STYLE, 0},
}};

struct Font {
  HFONT handle = nullptr;
  bool owned = false;
};

HFONT create_font(int height, const wchar_t* face) {
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     VARIABLE_PITCH | FF_DONTCARE, face);
}

Font interface_font(int height) {
  if (HFONT font = create_font(height, INTERFACE_FACE)) {
    return {font, true};
  }
  return {static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), false};
}

Font report_font() {
  if (HFONT font = create_font(REPORT_FONT_HEIGHT, REPORT_FACE)) {
    return {font, true};
  }
  return interface_font(REPORT_FONT_HEIGHT);
}

void delete_owned(const Font& font) {
  if (font.owned) {
    DeleteObject(font.handle);
  }
}

// "name|pattern|name|pattern" as the dialogs want it: NUL-separated, ending in a double NUL.
std::wstring dialog_filter(std::string_view filter) {
  std::wstring wide = widen(filter);
  std::replace(wide.begin(), wide.end(), L'|', L'\0');
  wide.push_back(L'\0');
  return wide;  // c_str() adds the second NUL
}

class MainWindow final : public WindowUi {
 public:
  MainWindow(HWND window, HWND report, HWND status)
      : window_(window), report_(report), status_(status) {}

  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override {
    return file_dialog(false, "", filter, default_extension);
  }

  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension) override {
    return file_dialog(true, initial_name, filter, default_extension);
  }

  void message(std::string_view text) override {
    MessageBoxW(window_, widen(text).c_str(), widen(MESSAGE_CAPTION).c_str(),
                MB_OK | MB_ICONINFORMATION);
  }

  void set_report(std::string_view text) override {
    SetWindowTextW(report_, widen(to_crlf(text)).c_str());
  }

  void set_status(std::string_view text) override {
    SetWindowTextW(status_, widen(to_crlf(text)).c_str());
  }

  std::string report_text() override {
    const int length = GetWindowTextLengthW(report_);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int copied = GetWindowTextW(report_, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return narrow(text);
  }

  void layout() {
    RECT client{};
    GetClientRect(window_, &client);
    const int width = std::max(static_cast<int>(client.right) - 24, 80);
    const int report_height = client.bottom - 90 < 81 ? 80 : client.bottom - 90;
    MoveWindow(report_, 12, 52, width, report_height, TRUE);
    MoveWindow(status_, 12, client.bottom - 26, width, 22, TRUE);
  }

  // False for ids that are no command.
  bool run_command(int id) {
    switch (id) {
      case OPEN_ID:
        commands_.open_table();
        return true;
      case REPAIR_ID:
        commands_.repair_and_save();
        return true;
      case EXPORT_ID:
        commands_.export_mb();
        return true;
      case SAVE_REPORT_ID:
        commands_.save_report();
        return true;
      case RESCUE_ID:
        commands_.rescue();
        return true;
      default:
        return false;
    }
  }

  // Only the first dropped file is loaded.
  void drop(HDROP dropped) {
    std::array<wchar_t, PATH_BUFFER_UNITS> path{};
    const UINT length = DragQueryFileW(dropped, 0, nullptr, 0);
    const bool fits = length > 0 && length < PATH_BUFFER_UNITS;
    if (fits) {
      DragQueryFileW(dropped, 0, path.data(), static_cast<UINT>(path.size()));
    }
    DragFinish(dropped);
    if (length >= PATH_BUFFER_UNITS) {
      message(DROPPED_PATH_TOO_LONG);
    } else if (fits) {
      commands_.load(narrow(path.data()));
    }
  }

  void load(const std::string& path) { commands_.load(path); }

 private:
  std::optional<std::string> file_dialog(bool save, std::string_view initial_name,
                                         std::string_view filter,
                                         std::string_view default_extension) {
    const std::wstring wide_filter = dialog_filter(filter);
    const std::wstring extension = widen(default_extension);
    std::array<wchar_t, PATH_BUFFER_UNITS> path{};
    const std::wstring initial = widen(initial_name);
    std::size_t copied = std::min(initial.size(), path.size() - 1);
    if (copied > 0 && copied < initial.size() && IS_HIGH_SURROGATE(initial[copied - 1])) {
      --copied;  // no half of a surrogate pair at the cut
    }
    std::copy_n(initial.begin(), copied, path.begin());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = wide_filter.c_str();
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags =
        save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen) {
      return std::nullopt;
    }
    return narrow(path.data());
  }

  HWND window_;
  HWND report_;
  HWND status_;
  WindowCommands commands_{*this};
};

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // Set once every control exists; until then only the default handling applies.
  auto* state = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      if (state != nullptr) {
        state->layout();
      }
      return 0;
    case WM_COMMAND:
      if (state != nullptr && HIWORD(wparam) == BN_CLICKED && state->run_command(LOWORD(wparam))) {
        return 0;
      }
      break;
    case WM_DROPFILES:
      if (state != nullptr) {
        state->drop(reinterpret_cast<HDROP>(wparam));
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

std::expected<void, DWORD> run_main_window(const std::optional<std::string>& file) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (instance == nullptr) {
    return std::unexpected(GetLastError());
  }
  const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  if (arrow == nullptr) {
    return std::unexpected(GetLastError());
  }
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = arrow;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = WINDOW_CLASS;
  RegisterClassW(&window_class);

  const HWND window = CreateWindowExW(0, WINDOW_CLASS, widen(WINDOW_TITLE).c_str(),
                                      WS_VISIBLE | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, WINDOW_WIDTH, WINDOW_HEIGHT,
                                      nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return std::unexpected(GetLastError());
  }

  const Font ui_font = interface_font(INTERFACE_FONT_HEIGHT);
  const Font text_font = report_font();
  std::array<HWND, CONTROLS.size()> controls{};
  for (std::size_t i = 0; i < CONTROLS.size(); ++i) {
    const ControlSpec& control = CONTROLS[i];
    controls[i] = CreateWindowExW(
        control.extended_style, control.class_name, widen(control.text).c_str(), control.style,
        control.x, control.y, control.width, control.height, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (controls[i] == nullptr) {
      const DWORD error = GetLastError();
      delete_owned(ui_font);
      delete_owned(text_font);
      return std::unexpected(error);
    }
  }
  HWND report = nullptr;
  HWND status = nullptr;
  for (std::size_t i = 0; i < CONTROLS.size(); ++i) {
    const bool is_report = CONTROLS[i].id == REPORT_ID;
    SendMessageW(controls[i], WM_SETFONT,
                 reinterpret_cast<WPARAM>(is_report ? text_font.handle : ui_font.handle), FALSE);
    if (is_report) {
      report = controls[i];
    } else if (CONTROLS[i].id == STATUS_ID) {
      status = controls[i];
    }
  }
  // Reports of large tables exceed the default limit of an edit control.
  SendMessageW(report, EM_SETLIMITTEXT, 0, 0);

  // Lives until the process ends; the window procedure reaches it through the window.
  static MainWindow state(window, report, status);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  state.layout();
  DragAcceptFiles(window, TRUE);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);

  if (file) {
    state.load(*file);
  }

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return {};
}

}  // namespace qovira::win32
