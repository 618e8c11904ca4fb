// dialogs_win32_test.cc: the module's real dialogs under a display: a second thread finds each
// dialog opened through the exports, checks its controls, types, presses buttons and saves a
// screenshot of it into the test's folder.
#include <windows.h>
// After windows.h, whose profile macros platform.h takes back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/wait_until.h"
#include "ui/message_texts.h"

namespace {

using ShowFn = int32_t(__stdcall*)(void*);
using InputEntryFn = int32_t(__stdcall*)(void*, void**);

struct Plugin {
  HMODULE module = nullptr;
  ShowFn configure = nullptr;
  ShowFn about = nullptr;
  InputEntryFn input_entry = nullptr;
};

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Plugin& LoadPlugin() {
  static Plugin plugin = [] {
    Plugin p;
    p.module = LoadLibraryA(PB_MODULE_PATH);
    if (p.module != nullptr) {
      p.configure = Resolve<ShowFn>(p.module, "NetExConfigure");
      p.about = Resolve<ShowFn>(p.module, "NetExAbout");
      p.input_entry = Resolve<InputEntryFn>(p.module, "InputEntry");
    }
    return p;
  }();
  return plugin;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[2048] = L"";
  GetWindowTextW(window, buffer, 2048);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[64] = L"";
  GetClassNameW(window, buffer, 64);
  return buffer;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<OwnedSearch*>(param);
  if (ClassOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == search->owner &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A top-level dialog window with the caption, optionally owned by owner; null when none shows.
HWND WaitForDialog(const wchar_t* caption, HWND owner = nullptr) {
  HWND found = nullptr;
  const bool shown = pb::test_support::WaitUntil([&] {
    if (caption != nullptr) {
      found = FindWindowW(L"#32770", caption);
    } else {
      OwnedSearch search{owner, nullptr};
      EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
      found = search.found;
    }
    return found != nullptr && IsWindowVisible(found);
  });
  if (!shown) return nullptr;
  Sleep(300);  // let it paint before anyone looks at it
  return found;
}

bool WaitGone(HWND window) {
  return pb::test_support::WaitUntil([&] { return !IsWindow(window); });
}

// Copies the window's client area on screen into a 24-bit BMP (PrintWindow draws nothing on Wine).
void SaveScreenshot(HWND window, const char* file) {
  // Without a window manager there is no frame on screen: the client area is what shows.
  RECT r;
  GetClientRect(window, &r);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::vector<uint8_t> pixels(row * h);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  // Beside the program: the open-file dialog may have moved the current directory.
  const std::string path = pb::platform::ReplaceFileName(pb::platform::ExecutablePath(), file);
  if (FILE* out = fopen(path.c_str(), "wb")) {
    fwrite(&header, sizeof header, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

struct ExpectedControl {
  int id;
  const wchar_t* class_name;
  const wchar_t* text;  // null: not compared (edits, whose text the dialog fills)
  DWORD style;          // bits that must be set
  DWORD type_mask;      // low bits compared exactly against type (button and static kinds)
  DWORD type;
  int x, y, w, h;  // dialog units; h 0: not compared (a drop-down's list height)
};

// Checks the dialog's children in template order: id, class, text, style, place and size.
void CheckControls(HWND dialog, const std::vector<ExpectedControl>& expected) {
  size_t i = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT), ++i) {
    if (i >= expected.size()) {
      ADD_FAILURE() << "extra control " << GetDlgCtrlID(child);
      continue;
    }
    const ExpectedControl& e = expected[i];
    SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(e.id));
    EXPECT_EQ(static_cast<int16_t>(GetDlgCtrlID(child)), e.id);
    EXPECT_EQ(ClassOf(child), e.class_name);
    if (e.text != nullptr) {
      EXPECT_EQ(TextOf(child), e.text) << Narrow(TextOf(child));
    }
    DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    // The dialog manager draws a bordered edit with a sunken client edge instead.
    if (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) style |= WS_BORDER;
    EXPECT_EQ(style & e.style, e.style) << std::hex << style;
    EXPECT_EQ(style & e.type_mask, e.type) << std::hex << style;
    // The dialog manager converts the place and the size each on their own.
    RECT place{e.x, e.y, e.w, e.h};
    MapDialogRect(dialog, &place);
    RECT actual;
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, place.left);
    EXPECT_EQ(actual.top, place.top);
    EXPECT_EQ(actual.right - actual.left, place.right);
    if (e.h != 0) {
      EXPECT_EQ(actual.bottom - actual.top, place.bottom);
    }
  }
  EXPECT_EQ(i, expected.size());
}

// The style of each item of a DIALOG template in the module, in template order.
std::vector<DWORD> TemplateItemStyles(const wchar_t* name) {
  std::vector<DWORD> styles;
  HMODULE module = LoadPlugin().module;
  HRSRC found = FindResourceW(module, name, reinterpret_cast<LPCWSTR>(RT_DIALOG));
  if (found == nullptr) return styles;
  const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  const size_t size = SizeofResource(module, found);
  const auto* header = reinterpret_cast<const DLGTEMPLATE*>(base);
  size_t at = sizeof(DLGTEMPLATE);
  // Skips an ordinal (0xFFFF and a value) or a NUL-terminated UTF-16 string.
  auto skip_name = [&] {
    if (at + 2 <= size && *reinterpret_cast<const WORD*>(base + at) == 0xFFFF) {
      at += 4;
      return;
    }
    while (at + 2 <= size && *reinterpret_cast<const WORD*>(base + at) != 0) at += 2;
    at += 2;
  };
  skip_name();  // menu
  skip_name();  // class
  skip_name();  // title
  if (header->style & DS_SETFONT) {
    at += 2;      // point size
    skip_name();  // face
  }
  for (int i = 0; i < header->cdit; ++i) {
    at = (at + 3) & ~static_cast<size_t>(3);
    if (at + sizeof(DLGITEMTEMPLATE) > size) break;
    styles.push_back(reinterpret_cast<const DLGITEMTEMPLATE*>(base + at)->style);
    at += sizeof(DLGITEMTEMPLATE);
    skip_name();                                          // class
    skip_name();                                          // text
    at += 2 + *reinterpret_cast<const WORD*>(base + at);  // creation data
  }
  return styles;
}

void CheckFrame(HWND dialog, DWORD extra_style, DWORD ex_style) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  const DWORD want = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | extra_style;
  EXPECT_EQ(style & want, want) << std::hex << style;
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)) & ex_style, ex_style);
  LOGFONTW font{};
  HFONT handle = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  ASSERT_NE(handle, nullptr);
  GetObjectW(handle, sizeof font, &font);
  EXPECT_EQ(std::wstring(font.lfFaceName), L"ＭＳ Ｐゴシック");
}

void SetText(HWND dialog, int id, const wchar_t* text) {
  SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
// Presses a button without waiting for what it starts (a message box would block a send).
void Press(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The longest static text of a window: a message box's message.
std::wstring MessageOf(HWND box) {
  std::wstring longest;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) == L"Static" && TextOf(c).size() > longest.size()) longest = TextOf(c);
  }
  return longest;
}

// Runs open (the export, on this thread, as a host does) while drive works on the dialog from
// a second thread. drive returns having closed the dialog; if it fails, the dialog is
// cancelled so that open returns.
template <typename Open>
auto WithDialog(const wchar_t* caption, Open open, const std::function<void(HWND)>& drive) {
  std::thread driver([&] {
    HWND dialog = WaitForDialog(caption);
    if (dialog == nullptr) {
      ADD_FAILURE() << "dialog not found";
      return;
    }
    drive(dialog);
    if (IsWindow(dialog)) {
      ADD_FAILURE() << "dialog still open";
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  });
  auto result = open();
  driver.join();
  return result;
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(LoadPlugin().module, nullptr) << PB_MODULE_PATH;
    settings_ = pb::platform::ReplaceFileName(pb::platform::ExecutablePath(), "Peerbeacon.ini");
    if (!pb::platform::LogonUserName(&section_)) section_ = "Anonymous";
    DeleteFileA(settings_.c_str());
    owner_ = CreateWindowExW(0, L"STATIC", L"test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                             600, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    DeleteFileA(settings_.c_str());
  }
  std::string Read(const char* key) {
    char buffer[512] = "";
    GetPrivateProfileStringA(section_.c_str(), key, "<missing>", buffer, sizeof buffer,
                             settings_.c_str());
    return buffer;
  }

  std::string settings_;
  std::string section_;
  HWND owner_ = nullptr;
};

constexpr DWORD kEditStyle = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD kType = 0x0F;

TEST_F(DialogsTest, SettingsDialogChecksSavesAndBrowses) {
  // A node-list file in a folder of its own, so that choosing it moves the current directory.
  CreateDirectoryA("lists", nullptr);
  CloseHandle(
      CreateFileA("lists\\nodes.ini", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  char chosen[MAX_PATH];
  GetFullPathNameA("lists\\nodes.ini", MAX_PATH, chosen, nullptr);
  char start_dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, start_dir);

  const int32_t result = WithDialog(
      L"entry sheet", [&] { return LoadPlugin().configure(owner_); },
      [&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner_);
        CheckFrame(dialog, DS_CONTEXTHELP, WS_EX_CONTEXTHELP);
        const std::vector<ExpectedControl> expected = {
            {1, L"Button", L"OK", WS_TABSTOP, kType, BS_DEFPUSHBUTTON, 7, 218, 36, 14},
            {2, L"Button", L"CANCEL", WS_TABSTOP, kType, BS_PUSHBUTTON, 48, 218, 36, 14},
            {200, L"Edit", nullptr, kEditStyle, ES_NUMBER, 0, 65, 22, 77, 12},
            {201, L"Edit", nullptr, kEditStyle, ES_NUMBER, 0, 65, 38, 77, 12},
            {202, L"Edit", nullptr, kEditStyle | ES_NUMBER, 0, 0, 65, 56, 77, 12},
            {203, L"Edit", nullptr, kEditStyle, ES_NUMBER, 0, 65, 123, 77, 12},
            {204, L"Edit", nullptr, kEditStyle, ES_NUMBER, 0, 65, 143, 77, 12},
            {205, L"Edit", nullptr, kEditStyle | ES_NUMBER, 0, 0, 65, 74, 77, 12},
            {-1, L"Static", L"join address :", 0, kType, SS_RIGHT, 16, 24, 46, 8},
            {-1, L"Static", L"I/F address :", 0, kType, SS_RIGHT, 16, 40, 46, 8},
            {-1, L"Static", L"port :", 0, kType, SS_RIGHT, 16, 58, 46, 8},
            {-1, L"Static", L"TTL :", 0, kType, SS_RIGHT, 16, 76, 46, 8},
            {-1, L"Static", L"nickname :", 0, kType, SS_RIGHT, 16, 125, 46, 8},
            {-1, L"Static", L"group :", 0, kType, SS_RIGHT, 16, 145, 46, 8},
            {-1, L"Button", L" multicast ", 0, kType, BS_GROUPBOX, 7, 7, 143, 91},
            {-1, L"Button", L"alias", 0, kType, BS_GROUPBOX, 7, 105, 143, 100},
            {206, L"Button", L"Help", WS_TABSTOP, kType, BS_PUSHBUTTON, 114, 218, 36, 14},
            {-1, L"Static", L"node list :", 0, kType, SS_RIGHT, 16, 165, 46, 8},
            {208, L"ComboBox", nullptr, WS_TABSTOP, CBS_SORT | 0x3, CBS_DROPDOWNLIST, 65, 163, 77,
             0},
            {209, L"Edit", nullptr, kEditStyle, ES_NUMBER, 0, 41, 185, 101, 12},
            {210, L"Button", L"sel...", WS_TABSTOP, kType, BS_PUSHBUTTON, 16, 185, 25, 12},
        };
        CheckControls(dialog, expected);

        EXPECT_EQ(TextOf(GetDlgItem(dialog, 200)), L"239.191.38.82");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 201)), L"0.0.0.0");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 202)), L"7129");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 205)), L"1");
        EXPECT_EQ(Narrow(TextOf(GetDlgItem(dialog, 203))), section_);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 204)), L"Anonymous");
        EXPECT_EQ(TextOf(GetDlgItem(dialog, 209)), L"");
        HWND combo = GetDlgItem(dialog, 208);
        ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 5);
        const wchar_t* choices[] = {L"disable", L"nickname", L"logon id", L"computer name",
                                    L"ip address"};
        for (int i = 0; i < 5; ++i) {
          wchar_t item[64] = L"";
          SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
          EXPECT_EQ(std::wstring(item), choices[i]);
        }
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
        // The combo box passes its scroll bar on to its list, which shows it only when
        // needed, so the template is asked for the style as written.
        const std::vector<DWORD> styles = TemplateItemStyles(L"SETTINGDLG");
        ASSERT_EQ(styles.size(), 21u);
        EXPECT_EQ(styles[18], static_cast<DWORD>(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST |
                                                 WS_VSCROLL | WS_TABSTOP));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 209)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 210)));
        SaveScreenshot(dialog, "settings.bmp");

        // A refused join address: the message box, owned by the dialog, and nothing saved.
        SetText(dialog, 200, L"10.0.0.1");
        SetText(dialog, 202, L"70000");
        SetText(dialog, 205, L"0");
        SetText(dialog, 203, std::wstring(70, L'n').c_str());
        Press(dialog, 1);
        HWND box = WaitForDialog(L"data error");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
        EXPECT_EQ(MessageOf(box),
                  L"入力されたアドレスはマルチキャストのアドレスとして使用できません。\n"
                  L"マルチキャストのアドレスは 224.0.0.0-239.255.255.255 の範囲です。");
        SaveScreenshot(box, "message_505.bmp");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitGone(box));
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(GetFileAttributesA(settings_.c_str()), INVALID_FILE_ATTRIBUTES);

        // The user picks "disable", then "logon id".
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(208, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 209)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 210)));
        SendMessageW(combo, CB_SETCURSEL, 2, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(208, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 209)));

        // "sel...": the open-file dialog, owned by the settings dialog.
        Press(dialog, 210);
        HWND open = WaitForDialog(nullptr, dialog);
        ASSERT_NE(open, nullptr);
        SaveScreenshot(open, "open_file.bmp");
        const std::wstring wide_chosen(chosen, chosen + strlen(chosen));
        SetDlgItemTextW(open, 0x47c, wide_chosen.c_str());  // the file-name box
        SetDlgItemTextW(open, 0x480, wide_chosen.c_str());  // its older spelling
        PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
        EXPECT_TRUE(WaitGone(open));
        // The settings dialog shows the choice, then gives the current directory back.
        char now_dir[MAX_PATH] = "";
        pb::test_support::WaitUntil([&] {
          GetCurrentDirectoryA(MAX_PATH, now_dir);
          return Narrow(TextOf(GetDlgItem(dialog, 209))) == chosen &&
                 strcmp(now_dir, start_dir) == 0;
        });
        EXPECT_EQ(Narrow(TextOf(GetDlgItem(dialog, 209))), std::string(chosen));
        EXPECT_STREQ(now_dir, start_dir);

        SetText(dialog, 200, L"239.255.255.255");
        Press(dialog, 1);
        EXPECT_TRUE(WaitGone(dialog));
      });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Read("McstPort"), "70000");
  EXPECT_EQ(Read("McstAddr"), "239.255.255.255");
  EXPECT_EQ(Read("McstIF"), "0.0.0.0");
  EXPECT_EQ(Read("McstTTL"), "0");
  EXPECT_EQ(Read("Nickname"), std::string(60, 'n'));
  EXPECT_EQ(Read("Group"), "Anonymous");
  EXPECT_EQ(Read("SeedType"), "1");
  EXPECT_EQ(Read("NodeListPath"), std::string(chosen));
  DeleteFileA("lists\\nodes.ini");
  RemoveDirectoryA("lists");
}

TEST_F(DialogsTest, SettingsCancelWritesNothing) {
  const int32_t result = WithDialog(
      L"entry sheet", [&] { return LoadPlugin().configure(owner_); },
      [&](HWND dialog) {
        SetText(dialog, 203, L"changed");
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // Escape
        EXPECT_TRUE(WaitGone(dialog));
      });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(GetFileAttributesA(settings_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DialogsTest, DirectInputMakesTheRecord) {
  void* handle = nullptr;
  const int32_t result = WithDialog(
      L"直接入力", [&] { return LoadPlugin().input_entry(owner_, &handle); },
      [&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner_);
        CheckFrame(dialog, 0, 0);
        CheckControls(dialog,
                      {{1, L"Button", L"OK", WS_TABSTOP, kType, BS_DEFPUSHBUTTON, 35, 40, 40, 14},
                       {2, L"Button", L"ｷｬﾝｾﾙ", WS_TABSTOP, kType, BS_PUSHBUTTON, 80, 40, 40, 14},
                       {-1, L"Static", L"送信先のIPアドレス", 0, kType, SS_LEFT, 7, 7, 114, 8},
                       {207, L"Edit", L"", kEditStyle, 0, 0, 23, 19, 97, 12}});
        SetText(dialog, 207, L"192.168.1.20");
        Sleep(300);  // the edit repaints on its own thread
        SaveScreenshot(dialog, "direct_input.bmp");
        Press(dialog, 1);
        EXPECT_TRUE(WaitGone(dialog));
      });
  ASSERT_EQ(result, 1);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(GlobalSize(handle), 57u);
  const auto* bytes = static_cast<const uint8_t*>(GlobalLock(handle));
  ASSERT_NE(bytes, nullptr);
  const std::vector<uint8_t> expected = {
      57,  0,   0,   0,   0,   1,    0,    0,    2,    0,   0,   0, 1, 0, 0,
      0,   0,   0,   0,   0,   0xFF, 0xFF, 0xFF, 0xFF, 44,  0,   0, 0, 2, 0,
      0,   0,   192, 168, 1,   20,   0,    0,    0,    0,   0,   0, 0, 0, '1',
      '9', '2', '.', '1', '6', '8',  '.',  '1',  '.',  '2', '0', 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 57), expected);
  GlobalUnlock(handle);
  GlobalFree(handle);
}

TEST_F(DialogsTest, DirectInputRefusalsLeaveTheHandle) {
  for (const wchar_t* typed :
       {L"printer.example", L"255.255.255.255", static_cast<const wchar_t*>(nullptr)}) {
    void* handle = reinterpret_cast<void*>(0x4321);
    const int32_t result = WithDialog(
        L"直接入力", [&] { return LoadPlugin().input_entry(owner_, &handle); },
        [&](HWND dialog) {
          EXPECT_EQ(TextOf(GetDlgItem(dialog, 207)), L"");  // emptied at every opening
          SetText(dialog, 207, typed != nullptr ? typed : L"10.0.0.1");
          Press(dialog, typed != nullptr ? IDOK : IDCANCEL);
          EXPECT_TRUE(WaitGone(dialog));
        });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x4321));
  }
}

TEST_F(DialogsTest, AboutNamesThePluginAndItsVersion) {
  for (int button : {IDOK, IDCANCEL}) {
    const int32_t result = WithDialog(
        L"About", [&] { return LoadPlugin().about(owner_); },
        [&](HWND dialog) {
          EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner_);
          CheckFrame(dialog, 0, 0);
          std::vector<ExpectedControl> expected = {
              {1, L"Button", L"OK", WS_TABSTOP, kType, BS_DEFPUSHBUTTON, 110, 62, 50, 14},
              {-1, L"Static", L"Peerbeacon plug-in for Winsock1.1", 0, kType, SS_RIGHT, 7, 7, 153,
               8},
              {-1, L"Static", L"Version 1.07", 0, kType, SS_RIGHT, 7, 21, 153, 8},
              {-1, L"Static", nullptr, 0, kType, SS_RIGHT, 7, 35, 153, 8},
              {-1, L"Static", nullptr, 0, kType, SS_RIGHT, 7, 46, 153, 8}};
          CheckControls(dialog, expected);
          if (button == IDOK) SaveScreenshot(dialog, "about.bmp");
          PostMessageW(dialog, WM_COMMAND, button, 0);
          EXPECT_TRUE(WaitGone(dialog));
        });
    EXPECT_EQ(result, 1);
  }
}

// What the dialog procedures answered to WM_INITDIALOG, by caption, and how many help
// requests reached the host's window.
std::map<std::wstring, LRESULT> g_init_answers;
int g_owner_help_requests = 0;
WNDPROC g_owner_proc = nullptr;

LRESULT CALLBACK RecordInitAnswer(int code, WPARAM wparam, LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && call->message == WM_INITDIALOG) {
    g_init_answers[TextOf(call->hwnd)] = call->lResult;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK CountOwnerHelp(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_HELP) ++g_owner_help_requests;
  return CallWindowProcW(g_owner_proc, window, message, wparam, lparam);
}

// A help request about a control of the About or direct-input dialog gets the default
// handling, which passes it on to the owner; the settings dialog keeps it. The About box
// leaves its initialisation to the default handling too.
TEST_F(DialogsTest, HelpAndInitialisationGoToTheDefaultHandlingWhereNotHandled) {
  g_init_answers.clear();
  HHOOK hook =
      SetWindowsHookExW(WH_CALLWNDPROCRET, RecordInitAnswer, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  g_owner_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountOwnerHelp)));
  void* handle = nullptr;
  const struct {
    const wchar_t* caption;
    std::function<int32_t()> open;
    bool help_reaches_owner;
    bool init_handled;
  } cases[] = {{L"About", [&] { return LoadPlugin().about(owner_); }, true, false},
               {L"直接入力", [&] { return LoadPlugin().input_entry(owner_, &handle); }, true, true},
               {L"entry sheet", [&] { return LoadPlugin().configure(owner_); }, false, true}};
  for (const auto& c : cases) {
    const int before = g_owner_help_requests;
    WithDialog(c.caption, c.open, [](HWND dialog) {
      HELPINFO info{};
      info.cbSize = sizeof info;
      info.iContextType = HELPINFO_WINDOW;
      info.iCtrlId = IDOK;
      info.hItemHandle = GetDlgItem(dialog, IDOK);
      SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      EXPECT_TRUE(WaitGone(dialog));
    });
    EXPECT_EQ(g_owner_help_requests - before, c.help_reaches_owner ? 1 : 0) << Narrow(c.caption);
    ASSERT_EQ(g_init_answers.count(c.caption), 1u) << Narrow(c.caption);
    EXPECT_EQ(g_init_answers[c.caption] != 0, c.init_handled) << Narrow(c.caption);
  }
  SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_owner_proc));
  UnhookWindowsHookEx(hook);
}

TEST_F(DialogsTest, StringTableMatchesTheShiftJisTexts) {
  for (int id = 500; id <= 506; ++id) {
    wchar_t loaded[1024] = L"";
    ASSERT_GT(LoadStringW(LoadPlugin().module, id, loaded, 1024), 0) << id;
    const char* sjis = pb::ui::MessageTextSjis(id);
    wchar_t converted[1024] = L"";
    MultiByteToWideChar(932, 0, sjis, -1, converted, 1024);
    EXPECT_EQ(std::wstring(loaded), std::wstring(converted)) << id;
  }
  wchar_t loaded[1024] = L"";
  LoadStringW(LoadPlugin().module, 502, loaded, 1024);
  EXPECT_EQ(std::wstring(loaded), L"ポート番号が無効な値です。");
}

}  // namespace
