#include "app/system_dlls.h"

#include <delayimp.h>

#include <cstring>
#include <string>

#include "app/parent_console.h"
#include "app/run_log.h"
#include "update/session_guard.h"
#include "update/utf8.h"

// The toolchain's delay-load helper: what the first call of a delay-loaded
// function runs to fill that function's import slot (delayimp.h leaves it out).
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr pidd, FARPROC* ppfnIATEntry);
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The delay-import descriptors the link holds, one per delay-loaded library,
// listed by the build (cmake/system_dlls.cmake). The image's delay-import
// directory stays empty with these libraries, so the descriptors are reached
// by name, the way each library's own call stubs reach theirs.
#define TBT_DELAY_LOADED(name, symbol) extern "C" const ImgDelayDescr g_delay_##name __asm__(symbol);
#include "delay_loaded.inc"
#undef TBT_DELAY_LOADED

namespace {

#define TBT_DELAY_LOADED(name, symbol) &g_delay_##name,
constexpr const ImgDelayDescr* kDelayLoaded[] = {
#include "delay_loaded.inc"
};
#undef TBT_DELAY_LOADED

// A DLL that GDI+ may load by name itself (its image codecs, reached through a
// COM entry that need not carry a path): once loaded from System32, a load by
// name finds that copy.
constexpr const wchar_t* kAlsoLoaded[] = {L"windowscodecs.dll"};

bool g_bWindowless = false;  // /s or /c: nobody is there to click
// While every delay import is bound at start: the first that failed. The hook
// then fills the slot with UnboundImport so that the helper returns; the run
// ends before anything is done.
bool g_bBinding = false;
std::wstring g_strBindFailure;

// Never called: the run ends at start when a slot holds it.
void WINAPI UnboundImport() {
  ::ExitProcess(kExitSystemDllUnusable);
}

template <typename T>
T* FromRva(DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

std::wstring Widen(const char* psz, size_t max) {
  return std::wstring(psz, psz + strnlen(psz, max));  // ASCII names
}

std::wstring DllNameOf(PDelayLoadInfo pInfo) {
  std::wstring name = L"a system library";
  if (pInfo && pInfo->szDll) name = Widen(pInfo->szDll, MAX_PATH);
  if (pInfo && pInfo->dlp.fImportByName && pInfo->dlp.szProcName) {
    name += L" (" + Widen(pInfo->dlp.szProcName, 256) + L")";
  } else if (pInfo) {
    name += L" (ordinal " + std::to_wstring(pInfo->dlp.dwOrdinal) + L")";
  }
  return name;
}

// The delay-load helper's failure hook: a library it cannot load, or a
// function missing from one, would otherwise end the process with an
// exception. Every delay import is bound at start (below), so after the start
// this cannot be reached; if it is anyway, the run ends here, reported as at
// the start, and never with a message box in a run without a window.
FARPROC WINAPI OnDelayLoadFailure(unsigned dliNotify, PDelayLoadInfo pInfo) {
  if (g_bBinding && dliNotify == dliFailGetProc) {
    if (g_strBindFailure.empty()) g_strBindFailure = DllNameOf(pInfo);
    return reinterpret_cast<FARPROC>(&UnboundImport);
  }
  const std::wstring name = DllNameOf(pInfo);
  ReportUnusableSystemDll(name.c_str(), g_bWindowless);
  ::ExitProcess(kExitSystemDllUnusable);
}

// Loads the library `desc` describes from System32 and fills every import
// slot the link made for it through the helper, as each function's first call
// would. False, with the failure in g_strBindFailure, when it cannot.
bool BindDelayImports(const ImgDelayDescr& desc) {
  const char* pszDll = FromRva<const char>(desc.rvaDLLName);
  if (!(desc.grAttrs & dlattrRva) || !desc.rvaDLLName || !desc.rvaHmod || !desc.rvaIAT || !desc.rvaINT) {
    g_strBindFailure =
        (desc.rvaDLLName ? Widen(pszDll, MAX_PATH) : L"a system library") + L" (delay-import table)";
    return false;
  }
  HMODULE hDll = ::LoadLibraryExA(pszDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!hDll) {
    g_strBindFailure = Widen(pszDll, MAX_PATH);
    return false;
  }
  // The helper's module for this library: it never looks for one itself.
  HMODULE* phDll = FromRva<HMODULE>(desc.rvaHmod);
  if (!*phDll) *phDll = hDll;
  const auto* pNames = FromRva<const IMAGE_THUNK_DATA>(desc.rvaINT);
  FARPROC* pSlots = FromRva<FARPROC>(desc.rvaIAT);
  g_bBinding = true;
  for (size_t i = 0; pNames[i].u1.AddressOfData && g_strBindFailure.empty(); ++i) {
    if (!__delayLoadHelper2(&desc, &pSlots[i]) && g_strBindFailure.empty())
      g_strBindFailure = Widen(pszDll, MAX_PATH) + L" (import " + std::to_wstring(i) + L")";
  }
  g_bBinding = false;
  return g_strBindFailure.empty();
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

  // Every function the program takes from a delay-loaded library, bound now:
  // a missing library, or a system DLL that lacks one of them, ends the run
  // here, before the device is switched on, and never in the middle of a step
  // (the worker's hash while the device is on).
  for (const ImgDelayDescr* pDesc : kDelayLoaded) {
    if (!BindDelayImports(*pDesc)) return g_strBindFailure.c_str();
  }
  for (const wchar_t* name : kAlsoLoaded) {
    if (!::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return name;
  }
  return nullptr;
}

void ReportUnusableSystemDll(const wchar_t* library, bool silent) {
  std::wstring text = L"A system library could not be loaded from the system folder: ";
  text += library;
  text += L". Nothing was done.";
  RunLog("%s", Utf8(text).c_str());
  // A message box in a window station nobody sees would wait for ever.
  if (WriteLineToParentConsole(text) || silent || !SessionIsInteractive()) return;
  ::MessageBoxW(nullptr, text.c_str(), L"TbtFwUpdate", MB_OK | MB_ICONERROR);
}
