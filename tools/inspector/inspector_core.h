// What the inspector reads from a running program's window: its top-level
// window and, per child control, the id, visibility, enabled state and text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/wide_utf8.h"

struct ControlState {
  int id = 0;
  bool visible = false;
  bool enabled = false;
  std::wstring text;
  RECT rect{};  // screen coordinates
};

struct WindowState {
  HWND hwnd = nullptr;
  bool visible = false;
  std::wstring title;
  RECT rect{};
  std::vector<ControlState> controls;  // in child-window order
};

// How a control's text is fetched: WM_GETTEXT is what the program answers
// itself; the window manager's copy needs no answer, so it never waits on a
// busy program.
enum class TextSource { kMessage, kStored };

// The first top-level window that belongs to a process whose image file name
// is `exeName` (case-insensitive, no folder), or to `pid` when it is non-zero,
// and that has a child with id `markerId`. Visible windows are preferred.
HWND InspectFindWindow(const std::wstring& exeName, DWORD pid, int markerId);

// Reads the window and its child controls.
WindowState InspectReadWindow(HWND hwnd, TextSource source);

// One control's state by id; false when there is no such child.
bool InspectReadControl(HWND hwnd, int id, TextSource source, ControlState& state);

// "<id> vis=<0|1> en=<0|1> text=<utf-8>" for one control.
std::string InspectFormat(const ControlState& control);

// One command line from separate arguments, quoted so that the C runtime and
// CommandLineToArgvW split it back into the same arguments.
std::wstring InspectJoinArgs(const std::vector<std::wstring>& args);

// A text of Update.ini the way a reader of the file finds it: section
// Language maps "0x%X" of `langId` (fallback "0x409") to the section holding
// `key`. Empty when nothing is found.
std::wstring InspectIniText(const std::wstring& iniPath, uint16_t langId, const std::wstring& key);

// A condition on a control: "<id>:visible|hidden|enabled|disabled|active"
// (active: visible and enabled).
struct InspectCondition {
  int id = 0;
  enum Kind { kVisible, kHidden, kEnabled, kDisabled, kActive } kind = kVisible;
};
bool InspectParseCondition(const std::wstring& text, InspectCondition& condition);
bool InspectConditionHolds(HWND hwnd, const InspectCondition& condition);
