#include "tools/inspector/inspector_core.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr UINT kTextTimeoutMs = 3000;

struct FindContext {
  std::wstring exeName;
  DWORD pid;
  int markerId;
  HWND visible = nullptr;
  HWND hidden = nullptr;
};

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

std::wstring ImageName(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  std::wstring name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    name.assign(path, size);
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
  }
  CloseHandle(process);
  return name;
}

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
  auto* context = reinterpret_cast<FindContext*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (context->pid ? pid != context->pid : !SameNameIgnoringCase(ImageName(pid), context->exeName))
    return TRUE;
  if (!GetDlgItem(hwnd, context->markerId)) return TRUE;
  if (IsWindowVisible(hwnd)) {
    context->visible = hwnd;
    return FALSE;
  }
  if (!context->hidden) context->hidden = hwnd;
  return TRUE;
}

struct ChildList {
  HWND parent;
  std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  auto* list = reinterpret_cast<ChildList*>(param);
  if (GetParent(hwnd) == list->parent) list->children.push_back(hwnd);
  return TRUE;
}

std::wstring ReadText(HWND hwnd, TextSource source) {
  wchar_t text[1024] = {};
  if (source == TextSource::kStored) {
    InternalGetWindowText(hwnd, text, 1024);
    return text;
  }
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           kTextTimeoutMs, &copied)) {
    return L"<no answer>";
  }
  return std::wstring(text, copied < 1024 ? copied : 1023);
}

ControlState ReadOne(HWND child, TextSource source) {
  ControlState state;
  state.id = GetDlgCtrlID(child);
  state.visible = IsWindowVisible(child) != FALSE;
  state.enabled = IsWindowEnabled(child) != FALSE;
  state.text = ReadText(child, source);
  GetWindowRect(child, &state.rect);
  return state;
}

}  // namespace

HWND InspectFindWindow(const std::wstring& exeName, DWORD pid, int markerId) {
  FindContext context{exeName, pid, markerId};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&context));
  return context.visible ? context.visible : context.hidden;
}

WindowState InspectReadWindow(HWND hwnd, TextSource source) {
  WindowState state;
  state.hwnd = hwnd;
  if (!IsWindow(hwnd)) return state;
  state.visible = IsWindowVisible(hwnd) != FALSE;
  state.title = ReadText(hwnd, TextSource::kStored);
  GetWindowRect(hwnd, &state.rect);
  ChildList list{hwnd, {}};
  EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&list));
  for (HWND child : list.children) state.controls.push_back(ReadOne(child, source));
  return state;
}

bool InspectReadControl(HWND hwnd, int id, TextSource source, ControlState& state) {
  HWND child = GetDlgItem(hwnd, id);
  if (!child) return false;
  state = ReadOne(child, source);
  return true;
}

std::string InspectFormat(const ControlState& control) {
  std::wstring text = control.text;
  // One line per control: line breaks inside a text are shown escaped.
  std::wstring shown;
  for (wchar_t c : text) {
    if (c == L'\n') {
      shown += L"\\n";
    } else if (c != L'\r') {
      shown.push_back(c);
    }
  }
  return std::to_string(control.id) + " vis=" + (control.visible ? "1" : "0") +
         " en=" + (control.enabled ? "1" : "0") + " text=" + WideToUtf8(shown);
}

std::wstring InspectJoinArgs(const std::vector<std::wstring>& args) {
  std::wstring line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line.push_back(L' ');
    const std::wstring& arg = args[i];
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
      line += arg;
      continue;
    }
    // Backslashes count only before a quote: double them there, and before the closing quote.
    line.push_back(L'"');
    size_t backslashes = 0;
    for (wchar_t c : arg) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      if (c == L'"') {
        line.append(backslashes * 2 + 1, L'\\');
      } else {
        line.append(backslashes, L'\\');
      }
      backslashes = 0;
      line.push_back(c);
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
  }
  return line;
}

std::wstring InspectIniText(const std::wstring& iniPath, uint16_t langId, const std::wstring& key) {
  wchar_t langKey[16];
  swprintf(langKey, 16, L"0x%X", static_cast<unsigned>(langId));
  wchar_t section[64] = {};
  GetPrivateProfileStringW(L"Language", langKey, L"", section, 64, iniPath.c_str());
  if (!section[0]) GetPrivateProfileStringW(L"Language", L"0x409", L"", section, 64, iniPath.c_str());
  if (!section[0]) return {};
  wchar_t text[1024] = {};
  GetPrivateProfileStringW(section, key.c_str(), L"", text, 1024, iniPath.c_str());
  return text;
}

bool InspectParseCondition(const std::wstring& text, InspectCondition& condition) {
  size_t colon = text.find(L':');
  if (colon == std::wstring::npos || colon == 0) return false;
  wchar_t* end = nullptr;
  long id = wcstol(text.c_str(), &end, 10);
  if (end != text.c_str() + colon) return false;
  condition.id = static_cast<int>(id);
  const std::wstring kind = text.substr(colon + 1);
  if (kind == L"visible") {
    condition.kind = InspectCondition::kVisible;
  } else if (kind == L"hidden") {
    condition.kind = InspectCondition::kHidden;
  } else if (kind == L"enabled") {
    condition.kind = InspectCondition::kEnabled;
  } else if (kind == L"disabled") {
    condition.kind = InspectCondition::kDisabled;
  } else if (kind == L"active") {
    condition.kind = InspectCondition::kActive;
  } else {
    return false;
  }
  return true;
}

bool InspectConditionHolds(HWND hwnd, const InspectCondition& condition) {
  HWND child = GetDlgItem(hwnd, condition.id);
  if (!child) return false;
  bool visible = IsWindowVisible(child) != FALSE;
  bool enabled = IsWindowEnabled(child) != FALSE;
  switch (condition.kind) {
    case InspectCondition::kVisible: return visible;
    case InspectCondition::kHidden: return !visible;
    case InspectCondition::kEnabled: return enabled;
    case InspectCondition::kDisabled: return !enabled;
    case InspectCondition::kActive: return visible && enabled;
  }
  return false;
}
