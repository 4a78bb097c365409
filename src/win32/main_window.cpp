#include "main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/app/commands/window_commands.h"
#include "qovira/app/commands/window_layout.h"
#include "qovira/platform/wide_text.h"
#include "resource_ids.h"

namespace qovira::win32 {
namespace {

constexpr std::string_view DROPPED_PATH_TOO_LONG =
    "拖进来的文件路径太长（超过 1023 个字符），打不开。请把文件移到路径短一些的文件夹里再试。";

constexpr wchar_t WINDOW_CLASS[] = L"QoviraTableToolWindow";
// A task posted to the window's thread (WindowUi::post): its lParam owns a std::function.
constexpr UINT POSTED_TASK = WM_APP + 1;
// The About entry of the system menu (an id below 0xF000 with its low four bits clear).
constexpr UINT ABOUT_COMMAND = 0x0010;
// The ids of a task dialog's own buttons, clear of IDOK, IDCANCEL and their kin.
constexpr int FIRST_ANSWER_ID = 100;
// The progress bar's scale: thousandths.
constexpr int PROGRESS_SCALE = 1000;
constexpr wchar_t INTERFACE_FACE[] = L"Microsoft YaHei UI";
constexpr wchar_t REPORT_FACE[] = L"Consolas";
// Path buffers of the dialogs and of a file drop, in UTF-16 units.
constexpr std::size_t PATH_BUFFER_UNITS = 1024;

constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
// Shown only while a command works.
constexpr DWORD CANCEL_STYLE = WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD PROGRESS_STYLE = WS_CHILD;
constexpr DWORD REPORT_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                               WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL |
                               ES_AUTOVSCROLL;
// No prefix: an "&" in a file name is shown as it is, not as an underlined shortcut.
constexpr DWORD STATUS_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

// The Win32 side of a control of the shared descriptors.
struct Win32Control {
  const wchar_t* class_name;
  DWORD style;
  DWORD extended_style;
};

Win32Control win32_control(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return {L"BUTTON", BUTTON_STYLE, 0};
    case ControlKind::Report:
      return {L"EDIT", REPORT_STYLE, WS_EX_CLIENTEDGE};
    case ControlKind::Status:
      return {L"STATIC", STATUS_STYLE, 0};
    case ControlKind::Progress:
      return {PROGRESS_CLASSW, PROGRESS_STYLE, 0};
    case ControlKind::Cancel:
      return {L"BUTTON", CANCEL_STYLE, 0};
  }
  std::unreachable();
}

// Ctrl+O opens a table, Ctrl+S saves the report: the keys of every Windows program.
HACCEL create_accelerators() {
  std::array<ACCEL, 2> keys = {
      {{FVIRTKEY | FCONTROL, 'O', OPEN_ID}, {FVIRTKEY | FCONTROL, 'S', SAVE_REPORT_ID}}};
  return CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));
}

// The DPI of the screen, for Windows before 10 (1607), which has no DPI per window.
unsigned screen_dpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) {
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? static_cast<unsigned>(dpi) : DEFAULT_DPI;
}

// GetDpiForWindow exists from Windows 10 (1607) on; looked up at run time so that the program
// still starts on Windows 7.
unsigned window_dpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = [] {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const FARPROC found = user32 != nullptr ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
    return reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void (*)()>(found));
  }();
  if (get_dpi_for_window != nullptr) {
    if (const UINT dpi = get_dpi_for_window(window); dpi > 0) {
      return dpi;
    }
  }
  return screen_dpi();
}

struct Font {
  HFONT handle = nullptr;
  bool owned = false;
};

HFONT create_font(int height, const wchar_t* face) {
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     VARIABLE_PITCH | FF_DONTCARE, face);
}

void delete_owned(const Font& font) {
  if (font.owned) {
    DeleteObject(font.handle);
  }
}

// `height` is the character height at 96 DPI.
Font interface_font(int height, unsigned dpi) {
  if (HFONT font = create_font(-scale_to_dpi(height, dpi), INTERFACE_FACE)) {
    return {font, true};
  }
  return {static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), false};
}

Font report_font(unsigned dpi) {
  if (HFONT font = create_font(-scale_to_dpi(REPORT_FONT_HEIGHT, dpi), REPORT_FACE)) {
    return {font, true};
  }
  return interface_font(REPORT_FONT_HEIGHT, dpi);
}

struct Fonts {
  Font interface;
  Font report;
};

Fonts fonts_for(unsigned dpi) {
  return {interface_font(INTERFACE_FONT_HEIGHT, dpi), report_font(dpi)};
}

void delete_owned(const Fonts& fonts) {
  delete_owned(fonts.interface);
  delete_owned(fonts.report);
}

// "name|pattern|name|pattern" as the dialogs want it: NUL-separated, ending in a double NUL.
std::wstring dialog_filter(std::string_view filter) {
  std::wstring wide = widen(filter);
  std::replace(wide.begin(), wide.end(), L'|', L'\0');
  wide.push_back(L'\0');
  return wide;  // c_str() adds the second NUL
}

// The interface font to the buttons and the status bar, the report font to the report area.
void give_fonts(const std::array<HWND, WINDOW_CONTROLS.size()>& controls, const Fonts& fonts,
                BOOL redraw) {
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const bool is_report = WINDOW_CONTROLS[i].kind == ControlKind::Report;
    SendMessageW(controls[i], WM_SETFONT,
                 reinterpret_cast<WPARAM>(is_report ? fonts.report.handle : fonts.interface.handle),
                 redraw);
  }
}

class MainWindow final : public WindowUi {
 public:
  using Controls = std::array<HWND, WINDOW_CONTROLS.size()>;

  // Takes over `fonts`, made for `dpi` and already given to the controls.
  MainWindow(HWND window, const Controls& controls, const Fonts& fonts, unsigned dpi)
      : window_(window),
        controls_(controls),
        report_(control(REPORT_ID)),
        status_(control(STATUS_ID)),
        progress_(control(PROGRESS_ID)),
        cancel_(control(CANCEL_ID)),
        fonts_(fonts),
        dpi_(dpi) {
    // Reports of large tables exceed the default limit of an edit control.
    SendMessageW(report_, EM_SETLIMITTEXT, 0, 0);
    SendMessageW(progress_, PBM_SETRANGE32, 0, PROGRESS_SCALE);
  }

  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override {
    return file_dialog(false, "", filter, default_extension, "");
  }

  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension,
                                         std::string_view folder) override {
    return file_dialog(true, initial_name, filter, default_extension, folder);
  }

  void message(std::string_view text, MessageKind kind) override {
    MessageBoxW(window_, widen(text).c_str(), widen(MESSAGE_CAPTION).c_str(),
                MB_OK | (kind == MessageKind::Failure ? MB_ICONERROR : MB_ICONINFORMATION));
  }

  // A task dialog: a command button for each answer, and 取消.
  std::optional<std::size_t> choose(std::string_view question,
                                    std::span<const std::string_view> answers) override {
    std::vector<std::wstring> labels;
    for (const std::string_view answer : answers) {
      labels.push_back(widen(answer));
    }
    std::vector<TASKDIALOG_BUTTON> buttons;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      buttons.push_back({FIRST_ANSWER_ID + static_cast<int>(i), labels[i].c_str()});
    }
    const std::wstring caption = widen(MESSAGE_CAPTION);
    const std::wstring text = widen(question);
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = window_;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = caption.c_str();
    config.pszMainInstruction = text.c_str();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = FIRST_ANSWER_ID;
    int pressed = 0;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr)) ||
        pressed < FIRST_ANSWER_ID ||
        pressed >= FIRST_ANSWER_ID + static_cast<int>(buttons.size())) {
      return std::nullopt;
    }
    return static_cast<std::size_t>(pressed - FIRST_ANSWER_ID);
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

  // The keyboard moves to the cancel button while the command buttons are off, and back after.
  void set_busy(bool busy) override {
    busy_ = busy;
    if (busy) {
      focus_before_work_ = GetFocus();
    }
    layout();
    ShowWindow(progress_, busy ? SW_SHOW : SW_HIDE);
    ShowWindow(cancel_, busy ? SW_SHOW : SW_HIDE);
    if (busy) {
      SetFocus(cancel_);
    }
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      if (WINDOW_CONTROLS[i].kind == ControlKind::Button) {
        EnableWindow(controls_[i], !busy);
      }
    }
    if (!busy) {
      restore_focus(focus_before_work_);
    }
    // The cursor changes at once, not only when the mouse next moves.
    POINT cursor{};
    if (GetCursorPos(&cursor)) {
      const HWND under = WindowFromPoint(cursor);
      if (under == window_ || IsChild(window_, under)) {
        SetCursor(LoadCursorW(nullptr, busy && under != cancel_ ? IDC_WAIT : IDC_ARROW));
      }
    }
  }

  void set_progress(unsigned permille) override {
    SendMessageW(progress_, PBM_SETPOS, permille, 0);
  }

  void post(std::function<void()> task) override {
    auto owned = std::make_unique<std::function<void()>>(std::move(task));
    if (PostMessageW(window_, POSTED_TASK, 0, reinterpret_cast<LPARAM>(owned.get()))) {
      owned.release();  // the window procedure takes it back
    }
  }

  // The wait cursor over the window while a command works, except over the cancel button.
  bool set_cursor(HWND under, UINT hit) {
    if (!busy_ || hit != HTCLIENT || under == cancel_) {
      return false;
    }
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    return true;
  }

  void layout() {
    RECT client{};
    GetClientRect(window_, &client);
    const auto rects = layout_window(client.right, client.bottom, dpi_, busy_);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      MoveWindow(controls_[i], rects[i].x, rects[i].y, rects[i].width, rects[i].height, TRUE);
    }
  }

  // The window moved to a monitor of another DPI: fonts for it, the size the system suggests, and
  // the controls laid out anew.
  void change_dpi(unsigned dpi, const RECT& suggested) {
    dpi_ = dpi;
    const Fonts old_fonts = fonts_;
    fonts_ = fonts_for(dpi);
    give_fonts(controls_, fonts_, TRUE);
    delete_owned(old_fonts);
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layout();
  }

  // False for ids that are no command. Enter presses the button that has the keyboard, Escape
  // cancels the work (the dialog keys, IDOK and IDCANCEL).
  bool run_command(int id) {
    if (id == IDOK) {
      const HWND focus = GetFocus();
      if (focus != nullptr && GetParent(focus) == window_ && focus != report_) {
        SendMessageW(focus, BM_CLICK, 0, 0);
      }
      return true;
    }
    if (id == IDCANCEL) {
      commands_.cancel();
      return true;
    }
    for (const ControlDescriptor& control : WINDOW_CONTROLS) {
      if (control.id == id && control.command != nullptr) {
        (commands_.*control.command)();
        return true;
      }
    }
    return false;
  }

  void about() { commands_.about(); }

  // Tab and Shift+Tab move the keyboard between the controls in their order. Done here rather
  // than by IsDialogMessage: the report area, a multi-line edit, would keep the Tab key.
  bool move_focus(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB ||
        (message.hwnd != window_ && !IsChild(window_, message.hwnd)) ||
        GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) {
      return false;
    }
    const HWND focus = GetFocus();
    const HWND next =
        GetNextDlgTabItem(window_, focus == window_ ? nullptr : focus, GetKeyState(VK_SHIFT) < 0);
    if (next != nullptr) {
      SetFocus(next);
    }
    return true;
  }

  // The keyboard stays with the control that had it when the window is switched away from.
  void activate(bool active) {
    if (!active) {
      focus_when_inactive_ = GetFocus();
    } else {
      restore_focus(focus_when_inactive_);
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
      message(DROPPED_PATH_TOO_LONG, MessageKind::Failure);
    } else if (fits) {
      commands_.load(narrow(path.data()));
    }
  }

  void load(const std::string& path) { commands_.load(path); }

 private:
  // `focus` if it is still a control that can take the keyboard, else the first button.
  void restore_focus(HWND focus) {
    if (focus == nullptr || !IsChild(window_, focus) || !IsWindowEnabled(focus) ||
        !IsWindowVisible(focus)) {
      focus = controls_.front();
    }
    SetFocus(focus);
  }

  std::optional<std::string> file_dialog(bool save, std::string_view initial_name,
                                         std::string_view filter,
                                         std::string_view default_extension,
                                         std::string_view folder) {
    const std::wstring wide_filter = dialog_filter(filter);
    const std::wstring extension = widen(default_extension);
    const std::wstring wide_folder = widen(folder);
    std::array<wchar_t, PATH_BUFFER_UNITS> path{};
    // A path in the name box is where the dialog starts, before any folder it remembers.
    std::wstring initial = widen(initial_name);
    if (!wide_folder.empty() && !initial.empty() &&
        wide_folder.size() + 1 + initial.size() < path.size()) {
      initial = wide_folder + L"\\" + initial;
    }
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
    dialog.lpstrInitialDir = wide_folder.empty() ? nullptr : wide_folder.c_str();
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags =
        save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen) {
      return std::nullopt;
    }
    return narrow(path.data());
  }

  HWND control(int id) const {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      if (WINDOW_CONTROLS[i].id == id) {
        return controls_[i];
      }
    }
    return nullptr;
  }

  HWND window_;
  Controls controls_;
  HWND report_;
  HWND status_;
  HWND progress_;
  HWND cancel_;
  Fonts fonts_;
  unsigned dpi_;
  bool busy_ = false;
  HWND focus_before_work_ = nullptr;
  HWND focus_when_inactive_ = nullptr;
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
    case WM_DPICHANGED:
      if (state != nullptr) {
        state->change_dpi(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        return 0;
      }
      break;
    case WM_COMMAND:
      // Clicks (BN_CLICKED, 0) and the accelerator keys (1).
      if (state != nullptr && HIWORD(wparam) <= 1 && state->run_command(LOWORD(wparam))) {
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      if (state != nullptr && (wparam & 0xFFF0) == ABOUT_COMMAND) {
        state->about();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (state != nullptr && state->set_cursor(reinterpret_cast<HWND>(wparam), LOWORD(lparam))) {
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      if (state != nullptr) {
        state->activate(LOWORD(wparam) != WA_INACTIVE);
        return 0;
      }
      break;
    case POSTED_TASK: {
      const std::unique_ptr<std::function<void()>> task(
          reinterpret_cast<std::function<void()>*>(lparam));
      (*task)();
      return 0;
    }
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
  // Visual styles for the controls (the manifest asks for Common Controls 6).
  const INITCOMMONCONTROLSEX common_controls{sizeof(INITCOMMONCONTROLSEX),
                                             ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&common_controls);

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = arrow;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = WINDOW_CLASS;
  // The program's icon in the title bar and the taskbar.
  window_class.hIcon =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(QOVIRA_ICON_ID), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  window_class.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(QOVIRA_ICON_ID),
                                                       IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0));
  RegisterClassExW(&window_class);

  // Sized for the screen's DPI, and again below if the window opened on a monitor of another.
  // Shown once its controls exist, so that a visible window is a complete one.
  const unsigned start_dpi = screen_dpi();
  const HWND window = CreateWindowExW(
      0, WINDOW_CLASS, widen(WINDOW_TITLE).c_str(), WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW,
      CW_USEDEFAULT, CW_USEDEFAULT, scale_to_dpi(WINDOW_WIDTH, start_dpi),
      scale_to_dpi(WINDOW_HEIGHT, start_dpi), nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return std::unexpected(GetLastError());
  }
  const unsigned dpi = window_dpi(window);
  if (dpi != start_dpi) {
    SetWindowPos(window, nullptr, 0, 0, scale_to_dpi(WINDOW_WIDTH, dpi),
                 scale_to_dpi(WINDOW_HEIGHT, dpi), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  const Fonts fonts = fonts_for(dpi);
  MainWindow::Controls controls{};
  for (std::size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
    const ControlDescriptor& control = WINDOW_CONTROLS[i];
    const Win32Control kind = win32_control(control.kind);
    controls[i] = CreateWindowExW(
        kind.extended_style, kind.class_name, widen(control.text).c_str(), kind.style,
        scale_to_dpi(control.rect.x, dpi), scale_to_dpi(control.rect.y, dpi),
        scale_to_dpi(control.rect.width, dpi), scale_to_dpi(control.rect.height, dpi), window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (controls[i] == nullptr) {
      const DWORD error = GetLastError();
      delete_owned(fonts);
      return std::unexpected(error);
    }
  }
  give_fonts(controls, fonts, FALSE);

  // Lives until the process ends; the window procedure reaches it through the window.
  static MainWindow state(window, controls, fonts, dpi);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  state.layout();
  DragAcceptFiles(window, TRUE);
  const HMENU system_menu = GetSystemMenu(window, FALSE);
  AppendMenuW(system_menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(system_menu, MF_STRING, ABOUT_COMMAND, widen(ABOUT_ENTRY).c_str());
  ShowWindow(window, SW_SHOW);
  SetFocus(controls.front());
  UpdateWindow(window);

  // Painted first; the table loads beside the window's thread.
  if (file) {
    state.load(*file);
  }

  const HACCEL accelerators = create_accelerators();
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if ((accelerators != nullptr && TranslateAcceleratorW(window, accelerators, &message)) ||
        state.move_focus(message) || IsDialogMessageW(window, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return {};
}

}  // namespace qovira::win32
