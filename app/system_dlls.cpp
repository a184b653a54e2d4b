#include "app/system_dlls.h"

#include <delayimp.h>

#include <cstring>
#include <string>

#include "app/parent_console.h"

namespace {

// Every DLL the program delay-loads (cmake/system_dlls.cmake), and one that
// GDI+ may load by name itself (its image codecs, reached through a COM entry
// that need not carry a path): once loaded from System32, a load by name finds
// that copy.
constexpr const wchar_t* kSystemDlls[] = {L"version.dll", L"powrprof.dll", L"bcrypt.dll", L"gdiplus.dll",
                                          L"windowscodecs.dll"};

// The delay-load helper's failure hook: a library it cannot load, or a
// function missing from one, would otherwise end the process with an
// exception. The libraries themselves were loaded at start, so this is a
// system DLL without a function the program needs: the run ends here.
FARPROC WINAPI OnDelayLoadFailure(unsigned, PDelayLoadInfo pInfo) {
  std::wstring name = L"a system library";
  if (pInfo && pInfo->szDll) name.assign(pInfo->szDll, pInfo->szDll + strnlen(pInfo->szDll, MAX_PATH));
  ReportUnusableSystemDll(name.c_str(), false);
  ::ExitProcess(kExitSystemDllUnusable);
}

}  // namespace

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
  return nullptr;
}

void ReportUnusableSystemDll(const wchar_t* library, bool silent) {
  std::wstring text = L"A system library could not be loaded from the system folder: ";
  text += library;
  text += L". Nothing was done.\r\n";
  if (WriteToParentConsole(text) || silent) return;
  ::MessageBoxW(nullptr, text.c_str(), L"TbtFwUpdate", MB_OK | MB_ICONERROR);
}
