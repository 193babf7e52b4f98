#include "app/win32/upgrade_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "../app/fake_procedures.h"

namespace pelliton::win32 {
namespace {

using pelliton::testing::FakeProcedures;

struct Shown {
  MessageIcon icon;
  std::wstring caption;
  std::wstring text;
};

class RecordingPresenter final : public Presenter {
 public:
  explicit RecordingPresenter(std::vector<std::string>* log) : log_(log) {}
  void ShowMessage(HWND, MessageIcon icon, const std::wstring& caption,
                   const std::wstring& text) override {
    shown.push_back({icon, caption, text});
    log_->push_back("message:" + Narrow(text));
  }
  std::optional<std::wstring> ChooseFile(HWND, const std::wstring& filter) override {
    filters.push_back(filter);
    log_->push_back("choose");
    return chosen;
  }
  void ShowAbout(HWND) override { log_->push_back("about"); }
  void Beep(uint32_t hz, uint32_t ms) override {
    log_->push_back("beep:" + std::to_string(hz) + "/" + std::to_string(ms));
  }

  std::vector<Shown> shown;
  std::vector<std::wstring> filters;
  std::optional<std::wstring> chosen;

 private:
  std::vector<std::string>* log_;
};

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    hwnd = dialog.Create();
    ASSERT_NE(hwnd, nullptr) << GetLastError();
    Pump();
  }

  void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog.Window() == nullptr || !IsDialogMessageW(dialog.Window(), &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }

  HWND Item(int id) const { return GetDlgItem(hwnd, id); }
  std::wstring Text(int id) const {
    wchar_t text[512] = {};
    GetDlgItemTextW(hwnd, id, text, 512);
    return text;
  }
  void SetText(int id, const std::wstring& text) { SetDlgItemTextW(hwnd, id, text.c_str()); }
  void Click(int id) {
    SendMessageW(Item(id), BM_CLICK, 0, 0);
    Pump();
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  bool Checked(int id) const { return IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }

  std::vector<std::string> log;
  FakeProcedures procedures{&log};
  RecordingPresenter presenter{&log};
  UpgradeDialog dialog{procedures, presenter, L"pelliton"};
  HWND hwnd = nullptr;
};

TEST_F(Win32DialogTest, TemplateMakesEachControlWithItsClassStyleAndPlace) {
  const struct {
    int id;
    const wchar_t* window_class;
    RECT units;   // x, y, width, height: the dialog manager converts each on its own
    DWORD set;    // style bits it must have
    DWORD clear;  // and must not
  } controls[] = {
      {kCancelButton, L"Button", {289, 133, 78, 14}, WS_TABSTOP | WS_VISIBLE, BS_DEFPUSHBUTTON},
      {kReaderList, L"ComboBox", {98, 22, 266, 64}, CBS_DROPDOWNLIST | WS_TABSTOP, CBS_SORT},
      {kPathBox,
       L"Edit",
       {21, 91, 319, 14},
       ES_RIGHT | ES_AUTOHSCROLL | WS_DISABLED | WS_BORDER,
       ES_MULTILINE},
      {kReloadButton, L"Button", {273, 45, 90, 14}, WS_TABSTOP, BS_DEFPUSHBUTTON},
      {kBrowseButton, L"Button", {348, 91, 13, 14}, WS_TABSTOP, BS_DEFPUSHBUTTON},
      {kDownloadButton, L"Button", {84, 134, 78, 14}, WS_TABSTOP, BS_DEFPUSHBUTTON},
      {kCardInfoBox,
       L"Edit",
       {7, 53, 333, 23},
       ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL,
       WS_VISIBLE | WS_TABSTOP},
      {kCardInfoButton, L"Button", {186, 134, 78, 14}, WS_TABSTOP, BS_DEFPUSHBUTTON},
      {kStatusBox,
       L"Edit",
       {7, 156, 370, 46},
       ES_CENTER | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
       WS_BORDER | WS_VSCROLL | WS_HSCROLL},
      {kProgressBar, PROGRESS_CLASSW, {7, 208, 370, 14}, WS_VISIBLE, PBS_VERTICAL},
      {kHiddenLabel, L"Static", {41, 93, 336, 8}, WS_GROUP, WS_VISIBLE},
      {kHiddenLabel2, L"Static", {11, 166, 336, 8}, WS_GROUP, WS_VISIBLE},
      {kPcscRadio, L"Button", {19, 23, 68, 10}, BS_AUTORADIOBUTTON, WS_TABSTOP | WS_GROUP},
      {kOrvoRadio, L"Button", {20, 45, 52, 10}, BS_AUTORADIOBUTTON, WS_TABSTOP | WS_GROUP},
      {kCounterBox,
       L"Edit",
       {46, 134, 25, 15},
       ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
       ES_NUMBER | ES_MULTILINE},
  };
  for (const auto& c : controls) {
    HWND item = Item(c.id);
    ASSERT_NE(item, nullptr) << c.id;
    wchar_t window_class[64] = {};
    GetClassNameW(item, window_class, 64);
    EXPECT_EQ(_wcsicmp(window_class, c.window_class), 0) << c.id;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(item, GWL_STYLE));
    EXPECT_EQ(style & c.set & ~WS_BORDER, c.set & ~WS_BORDER) << c.id;
    EXPECT_EQ(style & c.clear & ~WS_BORDER, 0u) << c.id;
    // A dialog draws an edit box's border as a sunken edge instead.
    const bool border =
        (style & WS_BORDER) || (GetWindowLongW(item, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    if (c.set & WS_BORDER) {
      EXPECT_TRUE(border) << c.id;
    }
    if (c.clear & WS_BORDER) {
      EXPECT_FALSE(border) << c.id;
    }
    RECT expected = c.units;
    MapDialogRect(hwnd, &expected);
    RECT actual{};
    GetWindowRect(item, &actual);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left) << c.id;
    EXPECT_EQ(actual.top, expected.top) << c.id;
    EXPECT_EQ(actual.right - actual.left, expected.right) << c.id;
    if (c.id != kReaderList) {  // the closed box is shorter than the list it drops
      EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << c.id;
    }
  }
  RECT client{}, size{0, 0, PELLITON_WINDOW_WIDTH, PELLITON_WINDOW_HEIGHT};
  GetClientRect(hwnd, &client);
  MapDialogRect(hwnd, &size);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  wchar_t caption[64] = {};
  GetWindowTextW(hwnd, caption, 64);
  EXPECT_EQ(Narrow(caption), PELLITON_WINDOW_CAPTION);
}

TEST_F(Win32DialogTest, StartsInOrvoModeWithTheListFilledAndTheAboutEntryLast) {
  EXPECT_TRUE(Checked(kOrvoRadio));
  EXPECT_FALSE(Checked(kPcscRadio));
  EXPECT_FALSE(Enabled(kReaderList));
  EXPECT_FALSE(Enabled(kReloadButton));
  EXPECT_FALSE(Enabled(kPathBox));
  EXPECT_EQ(Text(kCounterBox), L"500");
  EXPECT_EQ(Text(kStatusBox), L"");
  EXPECT_EQ(SendDlgItemMessageW(hwnd, kReaderList, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(dialog.ReaderListCurrentText(), "Reader A 00");
  EXPECT_EQ(SendDlgItemMessageW(hwnd, kProgressBar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendDlgItemMessageW(hwnd, kProgressBar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(log, (std::vector<std::string>{"OnReaderModeClicked:1023", "ReloadReaderList"}));

  HMENU menu = GetSystemMenu(hwnd, FALSE);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  wchar_t entry[64] = {};
  GetMenuStringW(menu, count - 1, entry, 64, MF_BYPOSITION);
  EXPECT_EQ(Narrow(entry), PELLITON_ABOUT_ENTRY_TEXT);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(PELLITON_ABOUT_COMMAND));
  MENUITEMINFOW separator{};
  separator.cbSize = sizeof(separator);
  separator.fMask = MIIM_FTYPE;
  GetMenuItemInfoW(menu, count - 2, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
  EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0), 0);
}

TEST_F(Win32DialogTest, RadioClicksSetTheReaderControlsAndOnlyCommandsAboutOpensTheBox) {
  const struct {
    int click;
    bool list_enabled;
  } steps[] = {{kPcscRadio, true}, {kPcscRadio, true}, {kOrvoRadio, false}, {kPcscRadio, true}};
  for (const auto& step : steps) {
    Click(step.click);
    EXPECT_TRUE(Checked(step.click)) << step.click;
    EXPECT_FALSE(Checked(step.click == kPcscRadio ? kOrvoRadio : kPcscRadio)) << step.click;
    EXPECT_EQ(Enabled(kReaderList), step.list_enabled) << step.click;
    EXPECT_EQ(Enabled(kReloadButton), step.list_enabled) << step.click;
    EXPECT_EQ(log.back(), "OnReaderModeClicked:" + std::to_string(step.click));
    for (int radio : {kPcscRadio, kOrvoRadio})  // never a tab stop, checked or not
      EXPECT_FALSE(GetWindowLongW(Item(radio), GWL_STYLE) & WS_TABSTOP) << step.click;
  }
  EXPECT_EQ(procedures.Count("ReloadReaderList"), 1);  // a mode switch does not reload

  log.clear();
  for (WPARAM command : {WPARAM{0x10}, WPARAM{0x13}, WPARAM{0x20}, WPARAM{SC_RESTORE}})
    SendMessageW(hwnd, WM_SYSCOMMAND, command, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"about", "about"}));
}

TEST_F(Win32DialogTest, CounterTextsReadByTheRuleWithTheMessageAndTheFocusOnFailure) {
  const std::string not_a_number = "“请填入一个正整数。”";
  const std::string out_of_range = "“请填入一个在1和5000之间的整数。”";
  const std::wstring long_text = L"1" + std::wstring(30, L' ') + L"x";
  const struct {
    const wchar_t* text;
    bool passes;
    uint32_t value;       // CounterValue afterwards (it starts at 77)
    std::string message;  // empty: none
  } cases[] = {
      {L" 42 ", true, 42, ""},
      {L"+7", true, 7, ""},
      {L"5000", true, 5000, ""},
      {L"0", false, 0, out_of_range},
      {L"5001", false, 5001, out_of_range},
      {L"99999999999", false, 4294967295u, out_of_range},
      {L"", false, 77, not_a_number},
      {L"abc", false, 77, not_a_number},
      {L"-1", false, 77, not_a_number},
      {L"12a", false, 77, not_a_number},
      // Only the first 31 characters are read: the letter past them is never seen.
      {long_text.c_str(), true, 1, ""},
      {L"\x4e00", false, 77, not_a_number},
  };
  for (const auto& c : cases) {
    dialog.CounterValue() = 77;
    presenter.shown.clear();
    SetText(kCounterBox, c.text);
    SetFocus(Item(kCancelButton));
    EXPECT_EQ(dialog.ReadControls(), c.passes) << Narrow(c.text);
    EXPECT_EQ(dialog.CounterValue(), c.value) << Narrow(c.text);
    if (c.message.empty()) {
      EXPECT_TRUE(presenter.shown.empty()) << Narrow(c.text);
      continue;
    }
    ASSERT_EQ(presenter.shown.size(), 1u) << Narrow(c.text);
    EXPECT_EQ(Narrow(presenter.shown[0].text), c.message);
    EXPECT_EQ(presenter.shown[0].caption, L"pelliton");
    EXPECT_EQ(presenter.shown[0].icon, MessageIcon::kExclamation);
    Pump();
    if (GetForegroundWindow() == hwnd) {  // focus is only given in the active window
      EXPECT_EQ(GetFocus(), Item(kCounterBox)) << Narrow(c.text);
    }
    DWORD start = 1, end = 0;
    SendDlgItemMessageW(hwnd, kCounterBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u) << Narrow(c.text);
    EXPECT_EQ(end, wcslen(c.text)) << Narrow(c.text);
  }
}

TEST_F(Win32DialogTest, FieldsAndControlsRoundTripInTheirOrder) {
  dialog.ScriptPath() = "C:\\升级\\card.bin";
  dialog.CardInfoText() = "APP1: 1.2\r\nAPP2: 3.4";
  dialog.StatusText() = "\r\n\r\nDownload APP Successfull!";
  dialog.HiddenLabelText() = "label";
  dialog.CounterValue() = 4321;
  dialog.RefreshControls();
  EXPECT_EQ(Text(kPathBox), L"C:\\\x5347\x7ea7\\card.bin");
  EXPECT_EQ(Text(kStatusBox), L"\r\n\r\nDownload APP Successfull!");
  EXPECT_EQ(Text(kCounterBox), L"4321");

  dialog.ScriptPath().clear();
  dialog.CardInfoText().clear();
  dialog.StatusText().clear();
  dialog.HiddenLabelText().clear();
  SetText(kCounterBox, L"12x");  // fails last, after the texts were read
  EXPECT_FALSE(dialog.ReadControls());
  EXPECT_EQ(dialog.ScriptPath(), "C:\\升级\\card.bin");
  EXPECT_EQ(dialog.CardInfoText(), "APP1: 1.2\r\nAPP2: 3.4");
  EXPECT_EQ(dialog.StatusText(), "\r\n\r\nDownload APP Successfull!");
  EXPECT_EQ(dialog.HiddenLabelText(), "label");
  EXPECT_EQ(dialog.CounterValue(), 4321u);

  // The box written directly leaves the field alone until the next ReadControls.
  dialog.SetStatusBoxText("direct");
  EXPECT_EQ(Text(kStatusBox), L"direct");
  EXPECT_EQ(dialog.StatusText(), "\r\n\r\nDownload APP Successfull!");
}

TEST_F(Win32DialogTest, ReaderListInsertsSelectsAndRefusesOutsideIt) {
  dialog.ReaderListClear();
  EXPECT_EQ(dialog.ReaderListCurrentText(), "");
  dialog.ReaderListInsert(0, "B");
  dialog.ReaderListInsert(-1, "C");
  dialog.ReaderListInsert(0, "A");
  dialog.ReaderListInsert(7, "never");
  dialog.ReaderListInsert(-2, "never");
  EXPECT_EQ(SendDlgItemMessageW(hwnd, kReaderList, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(dialog.ReaderListCurrentText(), "");  // nothing selected by itself
  const struct {
    int index;
    std::string text;
  } selections[] = {{2, "C"}, {0, "A"}, {3, ""}, {1, "B"}, {-1, ""}, {-5, ""}};
  for (const auto& s : selections) {
    dialog.ReaderListSelect(s.index);
    EXPECT_EQ(dialog.ReaderListCurrentText(), s.text) << s.index;
  }
  // A procedure's selection is not the operator's: no selection-change event.
  EXPECT_EQ(procedures.Count("OnReaderSelChange"), 0);
}

TEST_F(Win32DialogTest, EnterAndEscapeCloseAsTheCounterAllows) {
  SetText(kCounterBox, L"0");
  SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_FALSE(dialog.Closed());
  ASSERT_EQ(presenter.shown.size(), 1u);
  SetText(kCounterBox, L"300");
  SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(dialog.Closed());
  EXPECT_EQ(dialog.Result(), IDOK);
  EXPECT_EQ(dialog.Window(), nullptr);
}

TEST_F(Win32DialogTest, EscapeClosesWhateverTheCounterButNotWhileAProcedureRuns) {
  procedures.on_download = [this](OperatorPanel&) {
    SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    // The operator's impatient second click, queued while the download holds the thread.
    PostMessageW(Item(kDownloadButton), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageW(Item(kDownloadButton), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    PostMessageW(Item(kDownloadButton), WM_KEYDOWN, VK_SPACE, 0);
    PostMessageW(Item(kDownloadButton), WM_KEYUP, VK_SPACE, 0);
  };
  Click(kDownloadButton);
  Pump();
  EXPECT_FALSE(dialog.Closed());
  EXPECT_EQ(procedures.Count("OnDownload"), 1);
  SetText(kCounterBox, L"junk");
  SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(dialog.Closed());
  EXPECT_EQ(dialog.Result(), IDCANCEL);
  EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(Win32DialogTest, ButtonsRunTheirProceduresAndTheBrowseDialogGetsTheFilter) {
  presenter.chosen = L"C:\\scripts\\a.bin";
  procedures.on_browse = [](OperatorPanel& panel) {
    const std::optional<std::string> file = panel.ChooseScriptFile(kScriptFileFilter);
    panel.ShowScriptPath(file.value_or("none"));
  };
  for (int id : {kBrowseButton, kCardInfoButton, kDownloadButton, kReloadButton})
    EnableWindow(Item(id), TRUE), Click(id);
  EXPECT_EQ(log, (std::vector<std::string>{"OnReaderModeClicked:1023", "ReloadReaderList",
                                           "OnBrowseScript", "choose", "GetCardInfo", "OnDownload",
                                           "OnPcscReload"}));
  ASSERT_EQ(presenter.filters.size(), 1u);
  EXPECT_EQ(presenter.filters[0],
            std::wstring(L"APP files(*.bin)\0*.bin\0All Files (*.*)\0*.*\0", 43));
  EXPECT_EQ(Text(kPathBox), L"C:\\scripts\\a.bin");
  DWORD start = 0, end = 0;
  SendDlgItemMessageW(hwnd, kPathBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                      reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 16u);  // the caret at the end, nothing selected
  EXPECT_EQ(end, 16u);
}

TEST(Win32TextTest, FiltersPairUpAndBadBytesAreReplaced) {
  const struct {
    const char* filter;
    std::wstring expected;
  } filters[] = {
      {"A|*.a||", std::wstring(L"A\0*.a\0", 6)},
      {"A|*.a|B", std::wstring(L"A\0*.a\0", 6)},
      {"", std::wstring(L"All Files (*.*)\0*.*\0", 20)},
      {"|*.a|B|*.b", std::wstring(L"All Files (*.*)\0*.*\0", 20)},
  };
  for (const auto& f : filters)
    EXPECT_EQ(ToSystemFilter(f.filter), f.expected) << f.filter;
  EXPECT_EQ(Widen("a\xff"
                  "b"),
            L"a\xfffd"
            L"b");
  EXPECT_EQ(Narrow(Widen("关于 Pelliton")), "关于 Pelliton");
}

}  // namespace
}  // namespace pelliton::win32
