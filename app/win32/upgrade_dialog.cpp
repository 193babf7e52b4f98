#include "app/win32/upgrade_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "engine/counter_rule.h"

namespace pelliton::win32 {

static_assert(PELLITON_ID_CANCEL == kCancelButton && PELLITON_ID_READER_LIST == kReaderList &&
                  PELLITON_ID_PATH_BOX == kPathBox && PELLITON_ID_RELOAD == kReloadButton &&
                  PELLITON_ID_BROWSE == kBrowseButton && PELLITON_ID_DOWNLOAD == kDownloadButton &&
                  PELLITON_ID_CARD_INFO_BOX == kCardInfoBox &&
                  PELLITON_ID_CARD_INFO == kCardInfoButton &&
                  PELLITON_ID_STATUS_BOX == kStatusBox && PELLITON_ID_PROGRESS == kProgressBar &&
                  PELLITON_ID_HIDDEN_LABEL == kHiddenLabel &&
                  PELLITON_ID_HIDDEN_LABEL2 == kHiddenLabel2 &&
                  PELLITON_ID_PCSC_RADIO == kPcscRadio && PELLITON_ID_ORVO_RADIO == kOrvoRadio &&
                  PELLITON_ID_COUNTER_BOX == kCounterBox,
              "the resource script's control numbers are the procedures' own");
static_assert(PELLITON_ID_CANCEL == IDCANCEL);

namespace {

// The counter box's text is read up to this many characters.
constexpr int kCounterTextChars = 31;
// The longest path the file dialog hands back, in UTF-16 units (the system's own limit).
constexpr DWORD kMaxPathChars = 32768;

HINSTANCE ExecutableModule() {
  return GetModuleHandleW(nullptr);
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG: {
      // Centred over the window that opened it, or the work area when there is none.
      RECT mine{}, over{};
      GetWindowRect(hwnd, &mine);
      HWND owner = GetWindow(hwnd, GW_OWNER);
      if (owner == nullptr || !GetWindowRect(owner, &over))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
      const int width = mine.right - mine.left, height = mine.bottom - mine.top;
      SetWindowPos(hwnd, nullptr, over.left + (over.right - over.left - width) / 2,
                   over.top + (over.bottom - over.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(hwnd, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::wstring Widen(std::string_view text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX / 2));
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(chars, 0)), L'\0');
  if (chars > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), chars);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX / 4));
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(std::max(bytes, 0)), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

std::wstring ToSystemFilter(std::string_view filter) {
  std::vector<std::string_view> parts;
  while (!filter.empty()) {
    const size_t bar = filter.find('|');
    parts.push_back(filter.substr(0, bar));
    filter = bar == std::string_view::npos ? std::string_view() : filter.substr(bar + 1);
  }
  std::wstring out;
  // Pairs up to the first empty label; an unpaired label at the end is dropped.
  for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty() && !parts[i + 1].empty(); i += 2) {
    out += Widen(parts[i]);
    out += L'\0';
    out += Widen(parts[i + 1]);
    out += L'\0';
  }
  if (out.empty())
    out = std::wstring(L"All Files (*.*)\0*.*\0", 20);
  return out;  // c_str() adds the closing NUL
}

std::wstring ModuleTitle(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) {
      path.clear();
      break;
    }
    if (got < path.size()) {
      path.resize(got);
      break;
    }
    if (path.size() >= kMaxPathChars) {
      path.clear();
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0)
    name.resize(dot);
  return name.empty() ? std::wstring(L"pelliton") : name;
}

void SystemPresenter::ShowMessage(HWND owner, MessageIcon icon, const std::wstring& caption,
                                  const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), caption.c_str(),
              MB_OK | (icon == MessageIcon::kStop ? MB_ICONSTOP : MB_ICONEXCLAMATION));
}

std::optional<std::wstring> SystemPresenter::ChooseFile(HWND owner, const std::wstring& filter) {
  std::wstring file(kMaxPathChars, L'\0');
  OPENFILENAMEW request{};
  request.lStructSize = sizeof(request);
  request.hwndOwner = owner;
  request.lpstrFilter = filter.c_str();
  request.nFilterIndex = 1;
  request.lpstrFile = file.data();
  request.nMaxFile = kMaxPathChars;
  // The tool's current folder stays where it was: a later relative path means the same.
  request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                  OFN_NOCHANGEDIR | OFN_ENABLESIZING;
  if (!GetOpenFileNameW(&request))
    return std::nullopt;  // closed, or a path longer than the buffer
  file.resize(wcsnlen(file.c_str(), file.size()));
  if (file.empty())
    return std::nullopt;
  return file;
}

void SystemPresenter::ShowAbout(HWND owner) {
  DialogBoxParamW(ExecutableModule(), MAKEINTRESOURCEW(PELLITON_IDD_ABOUT), owner, AboutProc, 0);
}

void SystemPresenter::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  ::Beep(frequency_hz, duration_ms);
}

UpgradeDialog::UpgradeDialog(WindowProcedures& procedures, Presenter& presenter,
                             std::wstring app_title, HINSTANCE resources)
    : procedures_(procedures),
      presenter_(presenter),
      app_title_(std::move(app_title)),
      resources_(resources != nullptr ? resources : ExecutableModule()),
      counter_value_(kCounterAtStart) {
  icon_ =
      static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(PELLITON_IDI_APP), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  small_icon_ = static_cast<HICON>(LoadImageW(resources_, MAKEINTRESOURCEW(PELLITON_IDI_APP),
                                              IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
}

UpgradeDialog::~UpgradeDialog() {
  if (hwnd_ != nullptr && !modal_)
    DestroyWindow(hwnd_);
  if (icon_ != nullptr)
    DestroyIcon(icon_);
  if (small_icon_ != nullptr)
    DestroyIcon(small_icon_);
}

INT_PTR UpgradeDialog::RunModal() {
  modal_ = true;
  return DialogBoxParamW(resources_, MAKEINTRESOURCEW(PELLITON_IDD_UPGRADE), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

HWND UpgradeDialog::Create() {
  modal_ = false;
  return CreateDialogParamW(resources_, MAKEINTRESOURCEW(PELLITON_IDD_UPGRADE), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK UpgradeDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<UpgradeDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<UpgradeDialog*>(lparam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    self->hwnd_ = hwnd;
  }
  if (self == nullptr)
    return FALSE;  // the messages before WM_INITDIALOG
  const INT_PTR handled = self->Handle(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return handled;
}

INT_PTR UpgradeDialog::Handle(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG:
      RefreshControls();
      InitWindow();
      return TRUE;  // the focus goes to the first tab stop: Cancel
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      // The dialog manager would post a Cancel, which would then close the window after a
      // procedure that was running when the close box was clicked.
      if (!procedure_running_)
        Close(IDCANCEL);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == PELLITON_ABOUT_COMMAND) {
        presenter_.ShowAbout(hwnd_);
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      if (!IsIconic(hwnd_))
        return FALSE;
      PaintMinimised();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      return FALSE;
  }
}

void UpgradeDialog::InitWindow() {
  wchar_t entry[128] = {};
  if (LoadStringW(resources_, PELLITON_IDS_ABOUT_ENTRY, entry, static_cast<int>(std::size(entry))) >
      0) {
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    if (menu != nullptr) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, PELLITON_ABOUT_COMMAND, entry);
    }
  }
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  CheckRadioButton(hwnd_, kPcscRadio, kOrvoRadio, kOrvoRadio);
  KeepRadiosOffTabChain();
  // The transport follows the checked button from the start, whatever it was before.
  procedures_.OnReaderModeClicked(*this, kOrvoRadio);
  EnableWindow(Item(kReaderList), FALSE);
  EnableWindow(Item(kReloadButton), FALSE);
  procedures_.ReloadReaderList(*this);
}

void UpgradeDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDOK:  // Enter with the focus on anything but a push button
      if (!procedure_running_ && ReadControls())
        Close(IDOK);
      return;
    case IDCANCEL:  // Cancel, Escape, the close box, Close in the system menu
      if (!procedure_running_)
        Close(IDCANCEL);
      return;
    case kReloadButton:
      if (code == BN_CLICKED)
        RunProcedure([this] { procedures_.OnPcscReload(*this); });
      return;
    case kBrowseButton:
      if (code == BN_CLICKED)
        RunProcedure([this] { procedures_.OnBrowseScript(*this); });
      return;
    case kDownloadButton:
      if (code == BN_CLICKED)
        RunProcedure([this] { procedures_.OnDownload(*this); });
      return;
    case kCardInfoButton:
      if (code == BN_CLICKED)
        RunProcedure([this] { procedures_.GetCardInfo(*this); });
      return;
    case kReaderList:
      // Sent for the operator's choices only, never for the procedures' own.
      if (code == CBN_SELCHANGE)
        RunProcedure([this] { procedures_.OnReaderSelChange(*this); });
      return;
    case kPcscRadio:
    case kOrvoRadio:
      if (code == BN_CLICKED) {
        KeepRadiosOffTabChain();
        RunProcedure([this, id] { procedures_.OnReaderModeClicked(*this, id); });
      }
      return;
    default:
      return;
  }
}

void UpgradeDialog::KeepRadiosOffTabChain() {
  // A radio button makes itself a tab stop whenever it is checked; the reader choice is
  // made with the mouse only.
  for (int id : {kPcscRadio, kOrvoRadio}) {
    HWND radio = Item(id);
    const LONG_PTR style = GetWindowLongPtrW(radio, GWL_STYLE);
    if (style & WS_TABSTOP)
      SetWindowLongPtrW(radio, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_TABSTOP));
  }
}

void UpgradeDialog::RunProcedure(const std::function<void()>& procedure) {
  if (procedure_running_)
    return;
  procedure_running_ = true;
  procedure();
  MSG dropped;
  while (PeekMessageW(&dropped, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&dropped, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  // Clicks on the title bar and its close box too.
  while (PeekMessageW(&dropped, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
  }
  procedure_running_ = false;
}

void UpgradeDialog::Close(INT_PTR result) {
  closed_ = true;
  result_ = result;
  if (modal_)
    EndDialog(hwnd_, result);
  else
    DestroyWindow(hwnd_);
}

void UpgradeDialog::PaintMinimised() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int width = GetSystemMetrics(SM_CXICON), height = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (client.right - client.left - width + 1) / 2,
           (client.bottom - client.top - height + 1) / 2, icon_);
  EndPaint(hwnd_, &paint);
}

std::wstring UpgradeDialog::ItemText(int id, int max_chars) const {
  HWND item = Item(id);
  if (item == nullptr)
    return {};
  int length = GetWindowTextLengthW(item);
  if (max_chars >= 0)
    length = std::min(length, max_chars);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(item, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::clamp(got, 0, length)));
  return text;
}

void UpgradeDialog::RefreshControls() {
  SetDlgItemTextW(hwnd_, kPathBox, Widen(script_path_).c_str());
  SetDlgItemTextW(hwnd_, kCardInfoBox, Widen(card_info_text_).c_str());
  SetDlgItemTextW(hwnd_, kStatusBox, Widen(status_text_).c_str());
  SetDlgItemTextW(hwnd_, kHiddenLabel, Widen(hidden_label_text_).c_str());
  SetDlgItemTextW(hwnd_, kCounterBox, std::to_wstring(counter_value_).c_str());
  RepaintIfRunning(Item(kStatusBox));
}

bool UpgradeDialog::ReadControls() {
  script_path_ = Narrow(ItemText(kPathBox));
  card_info_text_ = Narrow(ItemText(kCardInfoBox));
  status_text_ = Narrow(ItemText(kStatusBox));
  hidden_label_text_ = Narrow(ItemText(kHiddenLabel));
  const CounterParse parse =
      ParseCounterText(Narrow(ItemText(kCounterBox, kCounterTextChars)), &counter_value_);
  if (parse == CounterParse::kOk)
    return true;
  CounterFailed(CounterFailureMessage(parse));
  return false;
}

void UpgradeDialog::CounterFailed(const std::string& message) {
  AppMessageBox(message);
  HWND box = Item(kCounterBox);
  // The dialog's own way of moving the focus, which selects an edit box's whole text.
  SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

void UpgradeDialog::SetStatusBoxText(const std::string& text) {
  SetDlgItemTextW(hwnd_, kStatusBox, Widen(text).c_str());
  RepaintIfRunning(Item(kStatusBox));
}

void UpgradeDialog::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  presenter_.Beep(frequency_hz, duration_ms);
}

void UpgradeDialog::ReaderListClear() {
  SendDlgItemMessageW(hwnd_, kReaderList, CB_RESETCONTENT, 0, 0);
}

void UpgradeDialog::ReaderListInsert(int index, const std::string& name) {
  // -1 appends; an index past the end is refused by the list itself.
  if (index < -1)
    return;
  const std::wstring text = Widen(name);
  SendDlgItemMessageW(hwnd_, kReaderList, CB_INSERTSTRING, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text.c_str()));
}

void UpgradeDialog::ReaderListSelect(int index) {
  const LRESULT count = SendDlgItemMessageW(hwnd_, kReaderList, CB_GETCOUNT, 0, 0);
  SendDlgItemMessageW(hwnd_, kReaderList, CB_SETCURSEL,
                      static_cast<WPARAM>(index >= 0 && index < count ? index : -1), 0);
}

std::string UpgradeDialog::ReaderListCurrentText() {
  const LRESULT selected = SendDlgItemMessageW(hwnd_, kReaderList, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR)
    return {};
  const LRESULT length =
      SendDlgItemMessageW(hwnd_, kReaderList, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
  if (length == CB_ERR || length < 0)
    return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got =
      SendDlgItemMessageW(hwnd_, kReaderList, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                          reinterpret_cast<LPARAM>(text.data()));
  text.resize(got == CB_ERR ? 0 : static_cast<size_t>(std::clamp<LRESULT>(got, 0, length)));
  return Narrow(text);
}

void UpgradeDialog::EnableControl(int control_id, bool enabled) {
  HWND control = Item(control_id);
  if (control != nullptr)
    EnableWindow(control, enabled ? TRUE : FALSE);
}

void UpgradeDialog::SetProgressRange(int lower, int upper) {
  SendDlgItemMessageW(hwnd_, kProgressBar, PBM_SETRANGE32, static_cast<WPARAM>(lower),
                      static_cast<LPARAM>(std::max(lower, upper)));
  RepaintIfRunning(Item(kProgressBar));
}

void UpgradeDialog::SetProgressPos(int position) {
  // The bar stops positions outside its range at its ends.
  SendDlgItemMessageW(hwnd_, kProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  RepaintIfRunning(Item(kProgressBar));
}

void UpgradeDialog::RepaintNow() {
  // Paints at once without taking input: no message loop runs.
  RedrawWindow(hwnd_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void UpgradeDialog::RepaintIfRunning(HWND control) {
  if (procedure_running_ && control != nullptr && IsWindowVisible(control))
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void UpgradeDialog::WindowMessageBox(const std::string& text) {
  presenter_.ShowMessage(hwnd_, MessageIcon::kStop, Widen(PELLITON_INFORMATION_CAPTION),
                         Widen(text));
}

void UpgradeDialog::AppMessageBox(const std::string& text) {
  presenter_.ShowMessage(hwnd_, MessageIcon::kExclamation, app_title_, Widen(text));
}

std::optional<std::string> UpgradeDialog::ChooseScriptFile(const std::string& filter) {
  const std::optional<std::wstring> chosen = presenter_.ChooseFile(hwnd_, ToSystemFilter(filter));
  if (!chosen)
    return std::nullopt;
  return Narrow(*chosen);
}

void UpgradeDialog::ShowScriptPath(const std::string& path) {
  HWND box = Item(kPathBox);
  SetWindowTextW(box, Widen(path).c_str());
  const int end = GetWindowTextLengthW(box);
  SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(box, EM_SCROLLCARET, 0, 0);
  SetFocus(box);
}

void UpgradeDialog::SetPathBoxText(const std::string& path) {
  SetDlgItemTextW(hwnd_, kPathBox, Widen(path).c_str());
}

}  // namespace pelliton::win32
