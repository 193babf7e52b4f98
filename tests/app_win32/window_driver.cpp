// Drives the window from outside, as an operator does: starts pelliton.exe, finds its
// window by caption, clicks with real mouse input, types with real key input, answers the
// file dialog and the message boxes, and photographs the window. The click tests run it
// under wine; it reads one command per line from a file, fields separated by tabs:
//   start EXE               start the tool; wait (30 s) for its window to be visible
//   click ID                a left click in the middle of control ID
//   type ID TEXT            click into edit ID, select all, type TEXT
//   choose ID PATH          click ID until a file dialog opens; type PATH into its empty
//                           name field, Enter
//   wait-text ID PART [MS]  wait (default 60 s) until control ID's text holds PART
//   wait-exact ID [TEXT]    wait (10 s) until control ID's text is TEXT (or empty)
//   state ID                whether control ID is enabled and checked
//   box CAPTION             wait for a box of that caption, read its text, click OK
//   about                   the system menu by Alt+Space, Up to its last entry, Enter
//   shot PATH               the window as it is on the screen, as a 24-bit BMP
//   close                   Alt+F4 on the window; wait for the tool's exit
// Prints one line per command, "ok VERB: DETAIL" (a text's line ends as \r and \n), and
// at the first failure "failed VERB: WHY", exiting 1.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/win32/upgrade_dialog.h"
#include "app/window_layout.h"

namespace {

using pelliton::win32::Narrow;
using pelliton::win32::Widen;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

struct Failed {
  std::string why;
};

// Polls `done` every 50 ms; false when `ms` passed first.
bool Within(DWORD ms, const std::function<bool()>& done) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() > deadline)
      return false;
    Sleep(50);
  }
  return true;
}

// A window's text without waiting forever on a busy window thread.
std::optional<std::wstring> TextOf(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 500, &copied))
    return std::nullopt;
  return std::wstring(text, copied);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

void SendKeys(const std::vector<INPUT>& keys) {
  std::vector<INPUT> copy = keys;
  SendInput(static_cast<UINT>(copy.size()), copy.data(), sizeof(INPUT));
}

INPUT Key(WORD vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

void Press(WORD vk) {
  SendKeys({Key(vk, false), Key(vk, true)});
}

void TypeText(const std::wstring& text) {
  std::vector<INPUT> keys;
  for (wchar_t c : text) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = c;
    input.ki.dwFlags = KEYEVENTF_UNICODE;
    keys.push_back(input);
    input.ki.dwFlags |= KEYEVENTF_KEYUP;
    keys.push_back(input);
  }
  SendKeys(keys);
}

class Driver {
 public:
  ~Driver() {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
  }

  std::string Run(const std::vector<std::string>& f) {
    const std::string& verb = f[0];
    if (verb == "start" && f.size() == 2)
      return Start(f[1]);
    if (verb == "click" && f.size() == 2)
      return Click(Control(f[1]));
    if (verb == "type" && f.size() == 3)
      return Type(Control(f[1]), Widen(f[2]));
    if (verb == "choose" && f.size() == 3)
      return Choose(Control(f[1]), Widen(f[2]));
    if (verb == "wait-text" && (f.size() == 3 || f.size() == 4))
      return WaitText(Control(f[1]), Widen(f[2]), f.size() == 4 ? std::stoul(f[3]) : 60000);
    if (verb == "wait-exact" && (f.size() == 2 || f.size() == 3))
      return WaitText(Control(f[1]), f.size() == 3 ? Widen(f[2]) : L"", 10000, true);
    if (verb == "state" && f.size() == 2)
      return State(Control(f[1]));
    if (verb == "box" && f.size() == 2)
      return Box(Widen(f[1]));
    if (verb == "about" && f.size() == 1)
      return About();
    if (verb == "shot" && f.size() == 2)
      return Shot(f[1]);
    if (verb == "close" && f.size() == 1)
      return Close();
    throw Failed{"not a command, or the wrong number of fields"};
  }

 private:
  HWND Control(const std::string& id) {
    HWND control = GetDlgItem(window_, std::stoi(id));
    if (control == nullptr)
      throw Failed{"no control " + id};
    return control;
  }

  void Settle() {
    WaitForInputIdle(process_.hProcess, 5000);
    Sleep(100);
  }

  std::string Start(const std::string& exe) {
    std::wstring command = L"\"" + Widen(exe) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_))
      throw Failed{"CreateProcess: error " + std::to_string(GetLastError())};
    const std::wstring caption = Widen(PELLITON_WINDOW_CAPTION);
    if (!Within(30000, [&] {
          window_ = FindOwnWindow(caption, nullptr);
          return window_ != nullptr;
        }))
      throw Failed{"no visible window \"" + Narrow(caption) + "\" within 30 s"};
    QueryPerformanceCounter(&end);
    const auto ms = (end.QuadPart - begin.QuadPart) * 1000 / frequency.QuadPart;
    Settle();
    RECT client;
    GetClientRect(window_, &client);
    return "window after " + std::to_string(ms) + " ms, client " + std::to_string(client.right) +
           "x" + std::to_string(client.bottom);
  }

  // A visible top-level window of the tool's with `caption` (any when empty), owned by
  // `owner` when one is given.
  HWND FindOwnWindow(const std::wstring& caption, HWND owner) {
    struct Search {
      DWORD pid;
      const std::wstring* caption;
      HWND owner;
      HWND found;
    } search{process_.dwProcessId, &caption, owner, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          if (pid != s->pid || !IsWindowVisible(window))
            return TRUE;
          if (s->owner != nullptr && GetWindow(window, GW_OWNER) != s->owner)
            return TRUE;
          wchar_t text[256] = {};
          GetWindowTextW(window, text, 256);
          if (!s->caption->empty() && *s->caption != text)
            return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // The tool's visible top-level windows, for a failure's message.
  std::string Visible() {
    std::string list;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* list = reinterpret_cast<std::string*>(param);
          if (IsWindowVisible(window))
            *list += "[" + Narrow(ClassOf(window)) + " \"" + Narrow(TextOf(window).value_or(L"?")) +
                     "\"]";
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&list));
    return list;
  }

  void ClickAt(HWND control) {
    RECT rect{};
    if (!GetWindowRect(control, &rect))
      return;  // gone meanwhile: no click somewhere else
    SetForegroundWindow(GetAncestor(control, GA_ROOT));
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT press[2] = {};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, press, sizeof(INPUT));
  }

  // After a box, the window is enabled and made active again a moment after the box has
  // gone; a click before that is lost.
  void WaitUntilActive() {
    if (!Within(5000, [&] {
          GUITHREADINFO info{};
          info.cbSize = sizeof(info);
          if (!IsWindowEnabled(window_) || !GetGUIThreadInfo(process_.dwThreadId, &info) ||
              info.hwndActive != window_) {
            SetForegroundWindow(window_);
            return false;
          }
          return true;
        }))
      throw Failed{"the window never became active; " + FocusReport()};
  }

  std::string Click(HWND control) {
    WaitUntilActive();
    if (!IsWindowEnabled(control))
      throw Failed{"the control is disabled"};
    ClickAt(control);
    Settle();
    return "clicked";
  }

  // Whether the tool's window thread has its keyboard focus in `control`.
  bool Focused(HWND control) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(process_.dwThreadId, &info) && info.hwndFocus == control &&
           info.hwndActive == window_;
  }

  std::string FocusReport() {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(process_.dwThreadId, &info);
    auto name = [](HWND w) {
      return w == nullptr ? std::string("none")
                          : Narrow(ClassOf(w)) + " " + std::to_string(GetDlgCtrlID(w)) + " \"" +
                                Narrow(TextOf(w).value_or(L"?")) + "\"";
    };
    return "active " + name(info.hwndActive) + ", focus " + name(info.hwndFocus) + ", capture " +
           name(info.hwndCapture) + ", foreground " + name(GetForegroundWindow()) + ", enabled " +
           std::to_string(IsWindowEnabled(window_));
  }

  std::string Type(HWND edit, const std::wstring& text) {
    WaitUntilActive();
    // A click right after a box has gone can land before the window is active again.
    if (!Within(5000, [&] {
          ClickAt(edit);
          Settle();
          return Focused(edit);
        }))
      throw Failed{"the box never got the focus; " + FocusReport()};
    SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 2000, nullptr);
    TypeText(text);
    Settle();
    const std::wstring now = TextOf(edit).value_or(L"?");
    if (now != text)
      throw Failed{"the box holds \"" + Narrow(now) + "\""};
    return "typed";
  }

  // A click right after a box can be lost even once the window is active again, so the
  // button is clicked again while the window stays enabled and no dialog has opened (the
  // window is disabled from the moment its dialog is being made: no second dialog).
  std::string Choose(HWND button, const std::wstring& path) {
    HWND dialog = nullptr;
    int clicks = 0;
    ULONGLONG next_click = 0;
    if (!Within(20000, [&] {
          dialog = FindOwnWindow(L"", window_);
          if (dialog != nullptr && ClassOf(dialog) == L"#32770")
            return true;
          if (IsWindowEnabled(window_) && GetTickCount64() >= next_click) {
            WaitUntilActive();
            ClickAt(button);
            ++clicks;
            next_click = GetTickCount64() + 3000;
          }
          return false;
        }))
      throw Failed{"no file dialog after " + std::to_string(clicks) + " clicks; " + FocusReport()};
    const std::string caption = Narrow(TextOf(dialog).value_or(L""));
    // The name field: the combo box of an Explorer-style dialog, the edit of an old one.
    HWND name = GetDlgItem(dialog, 0x47c);
    if (name == nullptr)
      name = GetDlgItem(dialog, 0x480);
    if (name == nullptr)
      throw Failed{"no name field in \"" + caption + "\""};
    // The field opens empty: the tool asks with no file name of its own.
    ClickAt(name);
    Sleep(200);
    TypeText(path);
    Sleep(200);
    Press(VK_RETURN);
    if (!Within(10000, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
      throw Failed{"the file dialog stayed open"};
    Settle();
    return "chose it in \"" + caption + "\"";
  }

  std::string WaitText(HWND control, const std::wstring& part, DWORD ms, bool exact = false) {
    std::wstring text;
    if (!Within(ms, [&] {
          text = TextOf(control).value_or(L"");
          return exact ? text == part : text.find(part) != std::wstring::npos;
        }))
      throw Failed{"still \"" + Escaped(Narrow(text)) + "\""};
    Settle();
    return Escaped(Narrow(TextOf(control).value_or(text)));
  }

  std::string State(HWND control) {
    const bool enabled = IsWindowEnabled(control);
    DWORD_PTR check = 0;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
    return std::string(enabled ? "enabled" : "disabled") + (check == BST_CHECKED ? " checked" : "");
  }

  std::string Box(const std::wstring& caption) {
    HWND box = nullptr;
    if (!Within(15000, [&] { return (box = FindOwnWindow(caption, window_)) != nullptr; }))
      throw Failed{"no box \"" + Narrow(caption) + "\"; windows: " + Visible()};
    Sleep(200);
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) != L"Static")  // the icon's has no text
        continue;
      const std::wstring part = TextOf(child).value_or(L"");
      if (!part.empty())
        text += (text.empty() ? L"" : L"|") + part;
    }
    HWND ok = GetDlgItem(box, IDOK);
    if (ok == nullptr)
      throw Failed{"no OK button"};
    // Clicked again while it stays open: a click can be lost as a box takes the focus.
    ULONGLONG next_click = 0;
    if (!Within(10000, [&] {
          if (!IsWindow(box) || !IsWindowVisible(box))
            return true;
          if (GetTickCount64() >= next_click) {
            ClickAt(ok);
            next_click = GetTickCount64() + 2000;
          }
          return false;
        }))
      throw Failed{"the box stayed open"};
    Settle();
    return Escaped(Narrow(text));
  }

  std::string About() {
    SetForegroundWindow(window_);
    Sleep(100);
    SendKeys({Key(VK_MENU, false), Key(VK_SPACE, false), Key(VK_SPACE, true), Key(VK_MENU, true)});
    HWND menu = nullptr;
    if (!Within(3000, [&] {
          menu = FindWindowW(L"#32768", nullptr);
          return menu != nullptr && IsWindowVisible(menu);
        }))
      throw Failed{"Alt+Space opened no menu"};
    // The menu opens on its first entry; Up wraps round to the last, ours. (Its
    // mnemonic would do on Windows, but wine's menu has an entry of its own with the
    // same.) The box that opens is checked by its caption afterwards.
    Sleep(200);
    Press(VK_UP);
    Sleep(200);
    Press(VK_RETURN);
    Settle();
    return "asked";
  }

  std::string Shot(const std::string& path) {
    SetForegroundWindow(window_);
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
    Sleep(300);
    RECT rect;
    GetWindowRect(window_, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD row = (width * 3 + 3) & ~3u;
    std::vector<char> pixels(row * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4d42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(Widen(path).c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    if (!out.flush())
      throw Failed{"cannot write " + path};
    return std::to_string(width) + "x" + std::to_string(height);
  }

  std::string Close() {
    SetForegroundWindow(window_);
    Sleep(100);
    SendKeys({Key(VK_MENU, false), Key(VK_F4, false), Key(VK_F4, true), Key(VK_MENU, true)});
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
      throw Failed{"the tool is still running"};
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return "exit " + std::to_string(code);
  }

  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_driver COMMAND-FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "window_driver: cannot read %s\n", argv[1]);
    return 2;
  }
  Driver driver;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab - at));
      if (tab == std::string::npos)
        break;
      at = tab + 1;
    }
    try {
      const std::string detail = driver.Run(fields);
      std::printf("ok %s: %s\n", fields[0].c_str(), detail.c_str());
      std::fflush(stdout);
    } catch (const Failed& failure) {
      std::printf("failed %s: %s\n", line.c_str(), failure.why.c_str());
      return 1;
    } catch (const std::exception& error) {  // a field that is not a number
      std::printf("failed %s: %s\n", line.c_str(), error.what());
      return 1;
    }
  }
  return 0;
}
