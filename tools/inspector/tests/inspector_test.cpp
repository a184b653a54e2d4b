// The inspector's readers against real windows on another thread, real
// command-line splitting and a real UTF-16 INI file.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/inspector/inspector_core.h"

namespace {

const std::wstring kJapanese = L"\u30A2\u30C3\u30D7\u30C7\u30FC\u30C8";  // katakana "update"

// A top-level window with four children, owned by a thread of its own that
// answers messages, as another program's window would.
class TestWindow {
 public:
  TestWindow() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
  }
  ~TestWindow() {
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  HWND hwnd() const { return hwnd_; }

 private:
  static DWORD WINAPI Run(void* param) {
    auto* self = static_cast<TestWindow*>(param);
    self->threadId_ = GetCurrentThreadId();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    self->hwnd_ = CreateWindowExW(0, L"STATIC", L"Inspected", WS_POPUP | WS_VISIBLE, 10, 20, 300, 200,
                                  nullptr, nullptr, instance, nullptr);
    auto child = [&](const wchar_t* cls, const wchar_t* text, int id, DWORD style, int x) {
      return CreateWindowExW(0, cls, text, WS_CHILD | style, x, 5, 40, 20, self->hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    child(L"BUTTON", L"Update", 1003, WS_VISIBLE, 0);
    child(L"BUTTON", L"Exit", 1, 0, 50);
    child(L"STATIC", (kJapanese + L"\r\nline two").c_str(), 1004, WS_VISIBLE, 100);
    child(L"BUTTON", L"Later", 1008, WS_VISIBLE | WS_DISABLED, 150);
    SetEvent(self->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    DestroyWindow(self->hwnd_);
    return 0;
  }

  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HWND hwnd_ = nullptr;
};

TEST(InspectorTest, JoinedArgumentsSplitBackUnchanged) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"C:\\e2e\\run 1\\TbtFwUpdate.exe", L"/LID:411"},
      {L"prog.exe", L"", L"two words", L"tab\there"},
      {L"prog.exe", L"say \"hi\"", L"C:\\dir\\", L"C:\\dir with space\\"},
      {L"prog.exe", L"\\\\server\\share", L"a\\\\\"b", L"/downgradable"},
  };
  for (const auto& args : cases) {
    std::wstring line = InspectJoinArgs(args);
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(split, nullptr);
    std::vector<std::wstring> back(split, split + count);
    LocalFree(split);
    // The program name follows its own rule (no escapes); compare the arguments after it.
    ASSERT_EQ(back.size(), args.size()) << WideToUtf8(line);
    for (size_t i = 1; i < args.size(); ++i) EXPECT_EQ(back[i], args[i]) << WideToUtf8(line);
  }
}

TEST(InspectorTest, ReadsAnotherThreadsControls) {
  TestWindow window;
  ASSERT_NE(window.hwnd(), nullptr);
  EXPECT_EQ(InspectFindWindow(L"", GetCurrentProcessId(), 1004), window.hwnd());
  EXPECT_EQ(InspectFindWindow(L"", GetCurrentProcessId(), 4242), nullptr);

  for (TextSource source : {TextSource::kMessage, TextSource::kStored}) {
    WindowState state = InspectReadWindow(window.hwnd(), source);
    EXPECT_TRUE(state.visible);
    EXPECT_EQ(state.title, L"Inspected");
    ASSERT_EQ(state.controls.size(), 4u);
    struct Expected {
      int id;
      bool visible, enabled;
      const char* line;
    } expected[] = {{1003, true, true, "1003 vis=1 en=1 text=Update"},
                    {1, false, true, "1 vis=0 en=1 text=Exit"},
                    {1004, true, true, nullptr},
                    {1008, true, false, "1008 vis=1 en=0 text=Later"}};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(state.controls[i].id, expected[i].id);
      EXPECT_EQ(state.controls[i].visible, expected[i].visible) << expected[i].id;
      EXPECT_EQ(state.controls[i].enabled, expected[i].enabled) << expected[i].id;
      if (expected[i].line) {
        EXPECT_EQ(InspectFormat(state.controls[i]), expected[i].line);
      }
    }
    // UTF-8 on one line: the line break is shown escaped.
    EXPECT_EQ(InspectFormat(state.controls[2]),
              "1004 vis=1 en=1 text=\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE3\x83\x87\xE3\x83\xBC\xE3\x83\x88"
              "\\nline two");
  }
}

TEST(InspectorTest, ConditionsFollowTheControls) {
  TestWindow window;
  struct Case {
    const wchar_t* text;
    bool parses, holds;
  } cases[] = {
      {L"1003:visible", true, true},  {L"1003:active", true, true},   {L"1:hidden", true, true},
      {L"1:active", true, false},     {L"1008:disabled", true, true}, {L"1008:active", true, false},
      {L"9999:visible", true, false}, {L"1003:shown", false, false},  {L"x:visible", false, false},
      {L"1003", false, false},
  };
  for (const Case& c : cases) {
    InspectCondition condition;
    ASSERT_EQ(InspectParseCondition(c.text, condition), c.parses) << WideToUtf8(c.text);
    if (c.parses) {
      EXPECT_EQ(InspectConditionHolds(window.hwnd(), condition), c.holds) << WideToUtf8(c.text);
    }
  }
  ShowWindow(GetDlgItem(window.hwnd(), 1), SW_SHOW);
  InspectCondition exitActive;
  ASSERT_TRUE(InspectParseCondition(L"1:active", exitActive));
  EXPECT_TRUE(InspectConditionHolds(window.hwnd(), exitActive));
}

TEST(InspectorTest, IniTextFollowsTheLanguageSectionWithFallback) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring path =
      std::wstring(temp) + L"inspector_test_" + std::to_wstring(GetCurrentProcessId()) + L".ini";
  std::wstring text =
      L"\xFEFF[Language]\r\n0x409=English\r\n0x411=Japanese\r\n[English]\r\nIDS_UPDATE=Update\r\n"
      L"[Japanese]\r\nIDS_UPDATE=" +
      kJapanese + L"\r\n";
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  fwrite(text.data(), sizeof(wchar_t), text.size(), file);
  fclose(file);

  EXPECT_EQ(InspectIniText(path, 0x411, L"IDS_UPDATE"), kJapanese);
  EXPECT_EQ(InspectIniText(path, 0x409, L"ids_update"), L"Update");
  EXPECT_EQ(InspectIniText(path, 0x40C, L"IDS_UPDATE"), L"Update");  // no French: the 0x409 fallback
  EXPECT_EQ(InspectIniText(path, 0x409, L"IDS_MISSING"), L"");
  EXPECT_EQ(InspectIniText(path + L".absent", 0x409, L"IDS_UPDATE"), L"");
  DeleteFileW(path.c_str());
}

}  // namespace
