#include "app/system_dlls.h"

#include <delayimp.h>

#include <cstring>
#include <string>

#include "app/parent_console.h"
#include "app/run_log.h"
#include "update/utf8.h"

namespace {

// Every DLL the program delay-loads (cmake/system_dlls.cmake), and one that
// GDI+ may load by name itself (its image codecs, reached through a COM entry
// that need not carry a path): once loaded from System32, a load by name finds
// that copy.
constexpr const wchar_t* kSystemDlls[] = {L"version.dll", L"powrprof.dll", L"bcrypt.dll", L"gdiplus.dll",
                                          L"windowscodecs.dll"};

// The delay-imported DLLs (cmake/system_dlls.cmake), by the names their
// delay-import descriptors carry.
constexpr const char* kDelayLoaded[] = {"version.dll", "powrprof.dll", "bcrypt.dll", "gdiplus.dll"};

bool g_bWindowless = false;  // /s or /c: nobody is there to click
// While every delay import is bound at start: the first that failed, and the
// hook answers with a stand-in so that binding goes on (nothing calls it: the
// run ends before anything is done).
bool g_bBinding = false;
std::wstring g_strBindFailure;

void NeverCalled() {}

std::wstring DllNameOf(PDelayLoadInfo pInfo) {
  std::wstring name = L"a system library";
  if (pInfo && pInfo->szDll) name.assign(pInfo->szDll, pInfo->szDll + strnlen(pInfo->szDll, MAX_PATH));
  if (pInfo && pInfo->dlp.fImportByName && pInfo->dlp.szProcName) {
    name += L" (";
    name.append(pInfo->dlp.szProcName, pInfo->dlp.szProcName + strnlen(pInfo->dlp.szProcName, 256));
    name += L")";
  }
  return name;
}

// The delay-load helper's failure hook: a library it cannot load, or a
// function missing from one, would otherwise end the process with an
// exception. Every delay import is bound at start (below), so after the start
// this cannot be reached; if it is anyway, the run ends here, reported as at
// the start, and never with a message box in a run without a window.
FARPROC WINAPI OnDelayLoadFailure(unsigned, PDelayLoadInfo pInfo) {
  if (g_bBinding) {
    if (g_strBindFailure.empty()) g_strBindFailure = DllNameOf(pInfo);
    return reinterpret_cast<FARPROC>(&NeverCalled);
  }
  const std::wstring name = DllNameOf(pInfo);
  ReportUnusableSystemDll(name.c_str(), g_bWindowless);
  ::ExitProcess(kExitSystemDllUnusable);
}

}  // namespace

void SetSystemDllRunWindowless(bool windowless) {
  g_bWindowless = windowless;
}

const wchar_t* UseSystemDllsOnly() {
  __pfnDliFailureHook2 = &OnDelayLoadFailure;
  // Windows 7 has it only with KB2533623; without it no load can be kept
  // away from the executable's folder, so the run ends (fail closed).
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto pfnSetDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (!pfnSetDefault || !pfnSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return L"kernel32.dll (SetDefaultDllDirectories)";

  // Loaded now, so that a missing one ends the run before anything was done;
  // the delay-load helper then finds each of them already there.
  for (const wchar_t* name : kSystemDlls) {
    if (!::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return name;
  }
  // Every function the program takes from them, bound now: a system DLL that
  // lacks one ends the run here, before the device is switched on, and never
  // in the middle of a step (the worker's hash while the device is on).
  g_bBinding = true;
  for (const char* name : kDelayLoaded) __HrLoadAllImportsForDll(name);
  g_bBinding = false;
  if (!g_strBindFailure.empty()) return g_strBindFailure.c_str();
  return nullptr;
}

void ReportUnusableSystemDll(const wchar_t* library, bool silent) {
  std::wstring text = L"A system library could not be loaded from the system folder: ";
  text += library;
  text += L". Nothing was done.";
  RunLog("%s", Utf8(text).c_str());
  if (WriteLineToParentConsole(text) || silent) return;
  ::MessageBoxW(nullptr, text.c_str(), L"TbtFwUpdate", MB_OK | MB_ICONERROR);
}
