// Drives the running QoviraTableTool window from outside, as a person would, through ordinary
// user32 messages that the system passes between processes. A console program for the Wine tests.
//
//   qovira_window_driver COMMAND [ARGS] [COMMAND [ARGS]]...
//     wait MS               until the main window is visible (it is shown once its controls exist)
//     title                 print the window title
//     gettext ID            print the text of a control (line ends as the control holds them)
//     waittext ID TEXT MS   until the control's text contains TEXT, then print it
//     press ID              the button's BN_CLICKED, posted to the window without waiting
//     busy MS               until a command works (the progress bar is shown)
//     idle MS               until no command works (the progress bar is hidden)
//     watch MOVES MS        while a command works, ask the window every 100 ms for an answer
//                           within 200 ms, until the progress bar has moved MOVES times; print
//                           the answers, the longest time without one and the positions seen.
//                           Fails when the window went a second without answering or the bar
//                           did not move so often before the work ended
//     enabled ID            print 1 when the control takes input, else 0
//     focus                 print the id of the control that has the keyboard (0: none)
//     tab                   press Tab where the keyboard is, wait until it moves on, print the
//                           id of the control that has it then
//     syscommand ID         choose the entry ID of the window's system menu
//     sysmenu               print the entries of the window's system menu, one per line
//     filedialog PATH MS    wait for a file dialog, enter PATH and confirm it (an overwrite
//                           question is left for msgbox)
//     canceldialog MS       wait for a file dialog and cancel it
//     answer ID MS          wait for a question (a task dialog) and press its button ID
//     msgbox MS             wait for a message box, print its caption and text, answer it
//                           with OK or Yes
//     msgboxicon MS         wait for a message box and print its icon as the screen shows it:
//                           "error" (red) or "information" (blue); the box stays open
//     rect ID               print a control's x y width height in client coordinates
//     client                print the client width and height
//     outer                 print the window's outer width and height
//     resize W H            give the window this outer size
//     exstyle               print the extended window style in hex
//     drop N PATH...        drop N files on the window
//     close                 close the window
//     list                  print every control in creation order: id, class
//     rects                 print "rect" of every control in creation order, one per line
// Every command waits for the window and the controls it names (up to a minute), so that a busy
// machine slows the test down instead of failing it. Exit code 0 when every command succeeded;
// otherwise 1 with the reason on standard error.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t MAIN_CLASS[] = L"QoviraTableToolWindow";
constexpr wchar_t DIALOG_CLASS[] = L"#32770";
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr DWORD POLL_MS = 50;
// How long the window and its controls may take to appear.
constexpr DWORD APPEAR_MS = 60000;
// The window must answer within this while it works, and never be silent for longer than a second.
constexpr UINT ANSWER_MS = 200;
constexpr DWORD WATCH_POLL_MS = 100;
constexpr ULONGLONG LONGEST_SILENCE_MS = 1000;
// The id of the progress bar (see window_layout.h).
constexpr int PROGRESS_ID = 1012;
// The file name box of a file dialog: a combo box (cmb13) or an edit (edt1).
constexpr int FILE_NAME_COMBO = 0x47C;
constexpr int FILE_NAME_EDIT = 0x480;

void write_out(HANDLE handle, std::wstring_view text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void print(std::wstring_view text) {
  write_out(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

[[noreturn]] void fail(std::wstring_view reason) {
  write_out(GetStdHandle(STD_ERROR_HANDLE),
            std::wstring(L"window_driver: ") + std::wstring(reason) + L"\n");
  ExitProcess(1);
}

bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result = nullptr) {
  return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                             result) != 0;
}

std::wstring text_of(HWND window) {
  DWORD_PTR length = 0;
  if (!send(window, WM_GETTEXTLENGTH, 0, 0, &length)) {
    fail(L"WM_GETTEXTLENGTH timed out");
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) {
    fail(L"WM_GETTEXT timed out");
  }
  text.resize(copied);
  return text;
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

HWND main_window() {
  HWND window = FindWindowW(MAIN_CLASS, nullptr);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND require_main_window() {
  for (DWORD waited = 0;; waited += POLL_MS) {
    if (HWND window = main_window()) {
      return window;
    }
    if (waited >= APPEAR_MS) {
      fail(L"the main window is not there");
    }
    Sleep(POLL_MS);
  }
}

HWND control(int id) {
  for (DWORD waited = 0;; waited += POLL_MS) {
    if (HWND item = GetDlgItem(require_main_window(), id)) {
      return item;
    }
    if (waited >= APPEAR_MS) {
      fail(L"no control " + std::to_wstring(id));
    }
    Sleep(POLL_MS);
  }
}

// Until `done()`, polling; fails with `what` after `timeout_ms`.
template <typename Done>
void wait_until(Done done, DWORD timeout_ms, std::wstring_view what) {
  for (DWORD waited = 0; !done(); waited += POLL_MS) {
    if (waited >= timeout_ms) {
      fail(std::wstring(what));
    }
    Sleep(POLL_MS);
  }
}

bool working() {
  return IsWindowVisible(control(PROGRESS_ID)) != FALSE;
}

// The control of the program's window that has the keyboard, from its thread's state.
HWND focused_control() {
  const HWND window = require_main_window();
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
    fail(L"cannot read the window's keyboard focus");
  }
  return info.hwndFocus;
}

int focused_id() {
  const HWND focus = focused_control();
  return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

// While a command works: the window answers, and its progress bar moves `moves` times.
void watch(int moves, DWORD timeout_ms) {
  const HWND window = require_main_window();
  const HWND progress = control(PROGRESS_ID);
  const ULONGLONG start = GetTickCount64();
  ULONGLONG last_answer = start;
  ULONGLONG longest_silence = 0;
  int asked = 0;
  int answered = 0;
  std::vector<DWORD_PTR> positions;
  while (GetTickCount64() - start < timeout_ms && working()) {
    DWORD_PTR ignored = 0;
    ++asked;
    const bool answer =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, ANSWER_MS, &ignored) != 0;
    const ULONGLONG now = GetTickCount64();
    if (answer) {
      ++answered;
      longest_silence = std::max(longest_silence, now - last_answer);
      last_answer = now;
    }
    DWORD_PTR position = 0;
    if (SendMessageTimeoutW(progress, PBM_GETPOS, 0, 0, SMTO_NORMAL, ANSWER_MS, &position) &&
        position > 0 && (positions.empty() || position > positions.back())) {
      positions.push_back(position);
    }
    if (static_cast<int>(positions.size()) > moves) {
      break;
    }
    Sleep(WATCH_POLL_MS);
  }
  longest_silence = std::max(longest_silence, GetTickCount64() - last_answer);
  std::wstring seen;
  for (const DWORD_PTR position : positions) {
    seen += L" " + std::to_wstring(position);
  }
  print(L"answered " + std::to_wstring(answered) + L" of " + std::to_wstring(asked) +
        L", longest silence " + std::to_wstring(longest_silence) + L" ms, positions" + seen +
        L"\n");
  if (answered == 0 || longest_silence > LONGEST_SILENCE_MS) {
    fail(L"the window did not answer within a second");
  }
  if (static_cast<int>(positions.size()) <= moves) {
    fail(L"the progress bar did not move " + std::to_wstring(moves) + L" times");
  }
}

// A visible dialog of the program's process: a file dialog when `file_dialog`, else a message box.
struct DialogSearch {
  DWORD process = 0;
  bool file_dialog = false;
  HWND found = nullptr;
};

HWND file_name_box(HWND dialog) {
  if (HWND combo = GetDlgItem(dialog, FILE_NAME_COMBO)) {
    return combo;
  }
  return GetDlgItem(dialog, FILE_NAME_EDIT);
}

BOOL CALLBACK match_dialog(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<DialogSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process || !IsWindowVisible(window) || class_of(window) != DIALOG_CLASS) {
    return TRUE;
  }
  if ((file_name_box(window) != nullptr) == search->file_dialog) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A dialog search over the program's windows that returns at once.
HWND find_dialog(bool file_dialog) {
  DialogSearch search;
  GetWindowThreadProcessId(require_main_window(), &search.process);
  search.file_dialog = file_dialog;
  EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND wait_for_dialog(bool file_dialog, DWORD timeout_ms) {
  for (DWORD waited = 0;; waited += POLL_MS) {
    if (HWND found = find_dialog(file_dialog)) {
      return found;
    }
    if (waited >= timeout_ms) {
      fail(file_dialog ? L"no file dialog appeared" : L"no message box appeared");
    }
    Sleep(POLL_MS);
  }
}

// Until `window` has closed, or a message box (an overwrite question) stands in front of it.
void wait_until_gone(HWND window, DWORD timeout_ms, std::wstring_view what, bool box_ends_wait) {
  for (DWORD waited = 0; IsWindow(window) && IsWindowVisible(window); waited += POLL_MS) {
    if (box_ends_wait && find_dialog(false) != nullptr) {
      return;
    }
    if (waited >= timeout_ms) {
      fail(std::wstring(what) + L" did not close");
    }
    Sleep(POLL_MS);
  }
}

// The program's visible top-level windows, for a failure message: what stood in the way.
std::wstring visible_windows() {
  struct Listing {
    DWORD process = 0;
    std::wstring text;
  } listing;
  GetWindowThreadProcessId(require_main_window(), &listing.process);
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* listing = reinterpret_cast<Listing*>(context);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == listing->process && IsWindowVisible(window)) {
          listing->text += L" [" + class_of(window) + L" \"" + text_of(window) + L"\"]";
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&listing));
  return listing.text;
}

void click_posted(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

// The notification a clicked button sends its parent. Posted straight to the window: a BM_CLICK
// depends on mouse capture, which Wine can hand elsewhere while focus settles after a message box.
void press(int id) {
  const HWND button = control(id);
  PostMessageW(require_main_window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

// Lets a dialog finish setting itself up (its initial file name, its folder view) before
// anything is typed into it.
void wait_until_idle(HWND window, DWORD timeout_ms) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, process_id)) {
    WaitForInputIdle(process, timeout_ms);
    CloseHandle(process);
  }
}

BOOL CALLBACK collect_static_text(HWND child, LPARAM context) {
  if (_wcsicmp(class_of(child).c_str(), L"Static") == 0) {
    const std::wstring text = text_of(child);
    if (!text.empty()) {
      *reinterpret_cast<std::wstring*>(context) += text + L"\n";
    }
  }
  return TRUE;
}

// OK, else Yes (the answer to an overwrite question), else the first button.
HWND answer_button(HWND box) {
  for (int id : {IDOK, IDYES}) {
    if (HWND button = GetDlgItem(box, id)) {
      return button;
    }
  }
  HWND first = nullptr;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        if (_wcsicmp(class_of(child).c_str(), L"Button") == 0) {
          *reinterpret_cast<HWND*>(context) = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&first));
  return first;
}

// The icon of a message box, told by the colours on the screen inside it: the error icon is red,
// the information icon blue, and the rest of the box grey and black.
std::wstring icon_of(HWND box) {
  RECT rect{};
  GetWindowRect(box, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  int red = 0;
  int blue = 0;
  const auto* pixels = static_cast<const std::uint8_t*>(bits);  // blue, green, red, unused
  for (int i = 0; bits != nullptr && i < width * height; ++i) {
    const int b = pixels[4 * i];
    const int g = pixels[4 * i + 1];
    const int r = pixels[4 * i + 2];
    red += r > 180 && g < 90 && b < 90;
    blue += b > 160 && r < 100 && g < 180;
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  constexpr int ICON_PIXELS = 100;
  if (red >= ICON_PIXELS) {
    return L"error";
  }
  return blue >= ICON_PIXELS ? L"information" : L"";
}

BOOL CALLBACK list_child(HWND child, LPARAM) {
  print(std::to_wstring(GetDlgCtrlID(child)) + L"\t" + class_of(child) + L"\n");
  return TRUE;
}

void drop_files(const std::vector<std::wstring>& paths) {
  HWND window = require_main_window();
  // DROPFILES, then the wide paths, each NUL-terminated, and a closing NUL.
  std::vector<wchar_t> names;
  for (const std::wstring& path : paths) {
    names.insert(names.end(), path.begin(), path.end());
    names.push_back(L'\0');
  }
  names.push_back(L'\0');
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = TRUE;
  std::vector<char> block(sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  std::memcpy(block.data(), &header, sizeof(header));
  std::memcpy(block.data() + sizeof(header), names.data(), names.size() * sizeof(wchar_t));

  // The handle must be valid inside the program, so the block is placed in its memory.
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
  if (process == nullptr) {
    fail(L"cannot open the program's process");
  }
  void* remote =
      VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr ||
      !WriteProcessMemory(process, remote, block.data(), block.size(), nullptr)) {
    fail(L"cannot place the drop in the program's memory");
  }
  CloseHandle(process);
  if (!send(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0)) {
    fail(L"WM_DROPFILES timed out");
  }
}

std::wstring rect_text(HWND item) {
  RECT rect{};
  GetWindowRect(item, &rect);
  MapWindowPoints(nullptr, require_main_window(), reinterpret_cast<POINT*>(&rect), 2);
  return std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
         std::to_wstring(rect.right - rect.left) + L" " + std::to_wstring(rect.bottom - rect.top) +
         L"\n";
}

BOOL CALLBACK print_rect(HWND child, LPARAM) {
  print(rect_text(child));
  return TRUE;
}

DWORD number(const wchar_t* text) {
  return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  auto next = [&]() -> const wchar_t* {
    if (i >= argc) {
      fail(L"missing argument");
    }
    return argv[i++];
  };
  while (i < argc) {
    const std::wstring_view command = next();
    if (command == L"wait") {
      const DWORD timeout = number(next());
      for (DWORD waited = 0; main_window() == nullptr; waited += POLL_MS) {
        if (waited >= timeout) {
          fail(L"the main window did not appear");
        }
        Sleep(POLL_MS);
      }
    } else if (command == L"title") {
      print(text_of(require_main_window()) + L"\n");
    } else if (command == L"gettext") {
      print(text_of(control(static_cast<int>(number(next())))));
    } else if (command == L"waittext") {
      const HWND item = control(static_cast<int>(number(next())));
      const std::wstring wanted = next();
      const DWORD timeout = number(next());
      std::wstring text = text_of(item);
      for (DWORD waited = 0; text.find(wanted) == std::wstring::npos; waited += POLL_MS) {
        if (waited >= timeout) {
          fail(L"the text never contained \"" + wanted + L"\"; it is \"" + text +
               L"\"; windows of the program:" + visible_windows());
        }
        Sleep(POLL_MS);
        text = text_of(item);
      }
      print(text + L"\n");
    } else if (command == L"press") {
      press(static_cast<int>(number(next())));
    } else if (command == L"busy") {
      wait_until(working, number(next()), L"no command started working");
    } else if (command == L"idle") {
      wait_until([] { return !working(); }, number(next()), L"the command did not end");
    } else if (command == L"watch") {
      const int moves = static_cast<int>(number(next()));
      watch(moves, number(next()));
    } else if (command == L"enabled") {
      print(IsWindowEnabled(control(static_cast<int>(number(next())))) ? L"1\n" : L"0\n");
    } else if (command == L"focus") {
      print(std::to_wstring(focused_id()) + L"\n");
    } else if (command == L"tab") {
      const HWND focus = focused_control();
      if (focus == nullptr) {
        fail(L"no control has the keyboard");
      }
      PostMessageW(focus, WM_KEYDOWN, VK_TAB, 1);
      PostMessageW(focus, WM_KEYUP, VK_TAB, 0xC0000001);
      wait_until([focus] { return focused_control() != focus; }, APPEAR_MS,
                 L"Tab did not move the keyboard");
      print(std::to_wstring(focused_id()) + L"\n");
    } else if (command == L"syscommand") {
      PostMessageW(require_main_window(), WM_SYSCOMMAND, number(next()), 0);
    } else if (command == L"sysmenu") {
      const HMENU menu = GetSystemMenu(require_main_window(), FALSE);
      for (int item = 0; menu != nullptr && item < GetMenuItemCount(menu); ++item) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(item), text, 256, MF_BYPOSITION);
        print(std::wstring(text) + L"\n");
      }
    } else if (command == L"filedialog" || command == L"canceldialog") {
      const bool confirm = command == L"filedialog";
      const wchar_t* path = confirm ? next() : nullptr;
      const DWORD timeout = number(next());
      const HWND dialog = wait_for_dialog(true, timeout);
      wait_until_idle(dialog, timeout);
      if (confirm && !send(file_name_box(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path))) {
        fail(L"cannot enter the file name");
      }
      if (confirm && text_of(file_name_box(dialog)) != path) {
        fail(L"the file name box holds \"" + text_of(file_name_box(dialog)) + L"\"");
      }
      click_posted(GetDlgItem(dialog, confirm ? IDOK : IDCANCEL));
      wait_until_gone(dialog, timeout, L"the file dialog", true);
    } else if (command == L"answer") {
      const int id = static_cast<int>(number(next()));
      const DWORD timeout = number(next());
      const HWND dialog = wait_for_dialog(false, timeout);
      wait_until_idle(dialog, timeout);
      const HWND button = GetDlgItem(dialog, id);
      if (button == nullptr) {
        fail(L"the question has no button " + std::to_wstring(id));
      }
      click_posted(button);
      wait_until_gone(dialog, timeout, L"the question", false);
    } else if (command == L"msgbox") {
      const DWORD timeout = number(next());
      const HWND box = wait_for_dialog(false, timeout);
      std::wstring text = text_of(box) + L"\n";
      EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&text));
      print(text);
      const HWND button = answer_button(box);
      if (button == nullptr) {
        fail(L"the message box has no button");
      }
      click_posted(button);
      wait_until_gone(box, timeout, L"the message box", false);
    } else if (command == L"msgboxicon") {
      const DWORD timeout = number(next());
      const HWND box = wait_for_dialog(false, timeout);
      std::wstring icon;
      wait_until([&] { return !(icon = icon_of(box)).empty(); }, timeout,
                 L"the message box shows no icon");
      print(icon + L"\n");
    } else if (command == L"rect") {
      print(rect_text(control(static_cast<int>(number(next())))));
    } else if (command == L"client") {
      RECT rect{};
      GetClientRect(require_main_window(), &rect);
      print(std::to_wstring(rect.right) + L" " + std::to_wstring(rect.bottom) + L"\n");
    } else if (command == L"outer") {
      RECT rect{};
      GetWindowRect(require_main_window(), &rect);
      print(std::to_wstring(rect.right - rect.left) + L" " +
            std::to_wstring(rect.bottom - rect.top) + L"\n");
    } else if (command == L"resize") {
      const int width = static_cast<int>(number(next()));
      const int height = static_cast<int>(number(next()));
      SetWindowPos(require_main_window(), nullptr, 0, 0, width, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (command == L"exstyle") {
      wchar_t hex[16] = {};
      std::swprintf(
          hex, 16, L"%lx\n",
          static_cast<unsigned long>(GetWindowLongPtrW(require_main_window(), GWL_EXSTYLE)));
      print(hex);
    } else if (command == L"drop") {
      const DWORD count = number(next());
      std::vector<std::wstring> paths;
      for (DWORD n = 0; n < count; ++n) {
        paths.emplace_back(next());
      }
      drop_files(paths);
    } else if (command == L"close") {
      PostMessageW(require_main_window(), WM_CLOSE, 0, 0);
    } else if (command == L"list") {
      EnumChildWindows(require_main_window(), list_child, 0);
    } else if (command == L"rects") {
      EnumChildWindows(require_main_window(), print_rect, 0);
    } else {
      fail(L"unknown command " + std::wstring(command));
    }
  }
  return 0;
}
