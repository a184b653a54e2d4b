#include "tests/win/update/worker_scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/run_log.h"
#include "tests/core/log_read_back.h"
#include "tests/win/controller/iat_patch.h"
#include "tools/simprovider/sim_provider.h"
#include "update/session_end.h"
#include "update/update_worker.h"

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring ModuleFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\'));
}

bool ReadBytes(const std::wstring& path, std::vector<uint8_t>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  GetFileSizeEx(h, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  const BOOL ok =
      bytes.empty() || ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(h);
  return ok && read == bytes.size();
}

bool WriteBytes(const std::wstring& path, const void* data, size_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(h);
  return ok && written == size;
}

// --- The child's view of the image file, through its imports. ---

std::vector<ScenarioOutcome::Open> g_opens;
HANDLE g_hImage = INVALID_HANDLE_VALUE;
ImportPatch* g_pCreatePatch = nullptr;
ImportPatch* g_pClosePatch = nullptr;

bool InDataFolder(LPCWSTR path) {
  if (!path) return false;
  std::wstring lower(path);
  for (auto& c : lower) c = towlower(c);
  return lower.find(L"\\data\\") != std::wstring::npos;
}

HANDLE WINAPI WatchCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
  using Fn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  HANDLE h = g_pCreatePatch->Original<Fn>()(path, access, share, sa, disposition, attributes, templateFile);
  const DWORD error = GetLastError();
  if (InDataFolder(path)) {
    g_opens.push_back({path, access, share, disposition, attributes, h != INVALID_HANDLE_VALUE});
    RecordWorkerEvent(h != INVALID_HANDLE_VALUE ? "open" : "open failed");
    if (h != INVALID_HANDLE_VALUE) g_hImage = h;
  }
  SetLastError(error);
  return h;
}

// Cuts reads of the image short, as a failing medium or a shrinking file would.
int64_t g_imageReadLimit = -1;
bool g_imageReadFails = false;
uint32_t g_imageReadPiece = 0;
uint64_t g_imageBytesRead = 0;
ImportPatch* g_pReadPatch = nullptr;

BOOL WINAPI WatchReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  using Fn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  if (h == g_hImage && h != INVALID_HANDLE_VALUE && g_imageReadLimit >= 0) {
    const uint64_t room =
        static_cast<uint64_t>(g_imageReadLimit) - std::min<uint64_t>(g_imageBytesRead, g_imageReadLimit);
    if (room == 0 && g_imageReadFails) {
      if (read) *read = 0;
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    count = static_cast<DWORD>(std::min<uint64_t>(count, room));
  }
  if (h == g_hImage && h != INVALID_HANDLE_VALUE && g_imageReadPiece > 0)
    count = std::min<DWORD>(count, g_imageReadPiece);
  const BOOL ok = g_pReadPatch->Original<Fn>()(h, buffer, count, read, overlapped);
  if (h == g_hImage && ok && read) g_imageBytesRead += *read;
  return ok;
}

BOOL WINAPI WatchCloseHandle(HANDLE h) {
  if (h == g_hImage && h != INVALID_HANDLE_VALUE) {
    RecordWorkerEvent("close");
    g_hImage = INVALID_HANDLE_VALUE;
  }
  return g_pClosePatch->Original<BOOL(WINAPI*)(HANDLE)>()(h);
}

ImportPatch* g_pRegCreatePatch = nullptr;

LONG WINAPI RefuseRegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES,
                                  PHKEY phkResult, LPDWORD) {
  if (phkResult) *phkResult = nullptr;
  return ERROR_ACCESS_DENIED;
}

std::vector<std::string> g_log;
void KeepLogEvent(const std::string& event) {
  g_log.push_back(event);  // the worker's thread alone logs in this process
}

// The log's flushes, in order: which line each put on the disk last, and
// where the provider's calls stood.
std::vector<WorkerEvent> g_flushes;
void SimCounters(WorkerEvent& event);
void RecordLogFlush() {
  WorkerEvent flush{
      "log flush after " + (g_log.empty() ? std::string("nothing") : g_log.back()), 0, 0, 0, 0, true};
  SimCounters(flush);
  g_flushes.push_back(flush);
}

std::string g_sessionEndsAt;
SessionEnd g_sessionEnd;  // the run's, told as the session's messages would tell it

// "read 3": the third ReadFirmware call, before the run's gate is asked.
void EndSessionAtCall(const char* method) {
  static int s_calls[3];
  const std::string name = method;
  const int n = ++s_calls[name == "version" ? 0 : name == "read" ? 1 : 2];
  if (!g_sessionEndsAt.empty() && g_sessionEndsAt == name + " " + std::to_string(n)) {
    g_sessionEndsAt.clear();
    g_sessionEnd.Request();
  }
}

void SimCounters(WorkerEvent& event) {
  if (!g_sessionEndsAt.empty() && event.what.rfind(g_sessionEndsAt, 0) == 0) {
    g_sessionEndsAt.clear();
    g_sessionEnd.Request();
  }
  const SimProvider& p = TheSimProvider();
  event.connects = p.connectCalls;
  event.versions = p.versionCalls;
  event.reads = p.readCalls;
  event.updates = p.updateCalls;
}

}  // namespace

bool IsScenarioChild(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], "--scenario") == 0;
}

void WriteScenario(const std::wstring& folder, const ScenarioSetup& setup) {
  std::ostringstream text;
  text << "nvmVersion " << setup.nvmVersion << "\nconnectOk " << setup.connectOk << "\ncontrollerListed "
       << setup.controllerListed << "\nversionAvailable " << setup.versionAvailable << "\nversionReturn "
       << setup.versionReturn << "\nupdateReturn " << setup.updateReturn << "\nupdateAnswers "
       << setup.updateAnswers << "\nfailReadAt " << setup.failReadAt << "\ndowngradable "
       << setup.downgradable << "\nimageReadLimit " << setup.imageReadLimit << "\nimageReadFails "
       << setup.imageReadFails << "\nimageReadPiece " << setup.imageReadPiece << "\ncheckOnly "
       << setup.checkOnly << "\nrecordFails " << setup.recordFails << "\n";
  if (!setup.sessionEndsAt.empty()) text << "sessionEndsAt " << setup.sessionEndsAt << "\n";
  const std::string s = text.str();
  WriteBytes(folder + L"\\scenario.txt", s.data(), s.size());
  WriteBytes(folder + L"\\controller.nvm", setup.nvm.data(), setup.nvm.size());
}

bool ReadOutcome(const std::wstring& folder, ScenarioOutcome& outcome) {
  std::vector<uint8_t> bytes;
  if (!ReadBytes(folder + L"\\outcome.txt", bytes)) return false;
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "status") {
      fields >> std::hex >> outcome.status >> outcome.threadExitCode;
    } else if (key == "calls") {
      fields >> outcome.connectCalls >> outcome.versionCalls >> outcome.readCalls >> outcome.updateCalls;
    } else if (key == "log") {
      std::getline(fields >> std::ws, line);
      // Compared as logged; a line that does not read back fails every check.
      std::string text;
      outcome.log.push_back(ReadBack(line, text) ? text : "(unreadable) " + line);
    } else if (key == "event") {
      WorkerEvent e{};
      int com = 0;
      fields >> e.connects >> e.versions >> e.reads >> e.updates >> com;
      std::getline(fields >> std::ws, e.what);
      e.comReady = com != 0;
      outcome.events.push_back(e);
    } else if (key == "flush") {
      WorkerEvent e{};
      fields >> e.updates;
      std::getline(fields >> std::ws, e.what);
      outcome.flushes.push_back(e);
    } else if (key == "open") {
      ScenarioOutcome::Open open{};
      int ok = 0;
      fields >> std::hex >> open.access >> open.share >> open.disposition >> open.attributes >> ok;
      std::string path;
      std::getline(fields >> std::ws, path);
      open.path = Wide(path);
      open.succeeded = ok != 0;
      outcome.opens.push_back(open);
    }
  }
  ReadBytes(folder + L"\\written.bin", outcome.written);
  outcome.ran = true;
  return true;
}

int RunScenarioChild() {
  const std::wstring folder = ModuleFolder();
  std::vector<uint8_t> text;
  if (!ReadBytes(folder + L"\\scenario.txt", text)) return 2;
  ResetSimProvider();
  SimProvider& sim = TheSimProvider();
  if (!ReadBytes(folder + L"\\controller.nvm", sim.nvm)) return 3;
  UpdateState state;
  state.m_dwStatus = 0xDEADBEEF;  // the worker must overwrite it
  std::istringstream in(std::string(text.begin(), text.end()));
  std::string key;
  bool bRecordFails = false;
  while (in >> key) {
    if (key == "recordFails") in >> bRecordFails;
    if (key == "nvmVersion") in >> sim.nvmVersion;
    if (key == "connectOk") in >> sim.connectOk;
    if (key == "controllerListed") in >> sim.controllerListed;
    if (key == "versionAvailable") in >> sim.versionAvailable;
    if (key == "versionReturn") in >> sim.versionReturn;
    if (key == "updateReturn") in >> sim.updateReturn;
    if (key == "updateAnswers") in >> sim.updateAnswers;
    if (key == "failReadAt") in >> sim.failReadAt;
    if (key == "downgradable") in >> state.m_bDowngradable;
    if (key == "imageReadLimit") in >> g_imageReadLimit;
    if (key == "imageReadFails") in >> g_imageReadFails;
    if (key == "imageReadPiece") in >> g_imageReadPiece;
    if (key == "checkOnly") in >> state.m_bCheckOnly;
    if (key == "sessionEndsAt") std::getline(in >> std::ws, g_sessionEndsAt);
  }

  // The watch stays for the rest of this short-lived process: the compiler may
  // keep an import's address in a register, so a patch must not end while
  // code that looked it up can still call through it.
  g_pCreatePatch = new ImportPatch("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(WatchCreateFileW));
  g_pClosePatch = new ImportPatch("kernel32.dll", "CloseHandle", reinterpret_cast<void*>(WatchCloseHandle));
  g_pReadPatch = new ImportPatch("kernel32.dll", "ReadFile", reinterpret_cast<void*>(WatchReadFile));
  if (!g_pCreatePatch->Active() || !g_pClosePatch->Active() || !g_pReadPatch->Active()) return 4;
  if (bRecordFails) {
    g_pRegCreatePatch =
        new ImportPatch("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void*>(RefuseRegCreateKeyExW));
    if (!g_pRegCreatePatch->Active()) return 4;
  }
  SetEventCounters(SimCounters);
  SetRunLogSink(KeepLogEvent);
  SetRunLogFlush(RecordLogFlush);
  SetUpdateSleep(RecordingSleep);
  sim.onCall = EndSessionAtCall;
  state.m_pSessionEnd = &g_sessionEnd;
  HANDLE hThread = CreateThread(nullptr, 0, UpdateWorker, &state, 0, nullptr);
  if (!hThread) return 5;
  WaitForSingleObject(hThread, INFINITE);
  DWORD exitCode = 0xFFFFFFFF;
  GetExitCodeThread(hThread, &exitCode);
  CloseHandle(hThread);

  std::ostringstream out;
  char line[64];
  std::snprintf(line, sizeof(line), "status %08X %08lX\n", static_cast<unsigned>(state.m_dwStatus), exitCode);
  out << line << "calls " << sim.connectCalls << ' ' << sim.versionCalls << ' ' << sim.readCalls << ' '
      << sim.updateCalls << '\n';
  for (const WorkerEvent& e : WorkerEvents())
    out << "event " << e.connects << ' ' << e.versions << ' ' << e.reads << ' ' << e.updates << ' '
        << e.comReady << ' ' << e.what << '\n';
  for (const WorkerEvent& e : g_flushes) out << "flush " << e.updates << ' ' << e.what << '\n';
  for (const auto& open : g_opens) {
    std::snprintf(line, sizeof(line), "open %lX %lX %lX %lX %d ", open.access, open.share, open.disposition,
                  open.attributes, open.succeeded ? 1 : 0);
    out << line << Utf8(open.path) << '\n';
  }
  for (const std::string& event : g_log) out << "log " << event << '\n';
  if (sim.updateCalls > 0)
    WriteBytes(folder + L"\\written.bin", sim.updatedImage.data(), sim.updatedImage.size());
  const std::string s = out.str();
  // Appears whole or not at all: a parent that cannot wait on this process
  // watches for the file.
  if (!WriteBytes(folder + L"\\outcome.tmp", s.data(), s.size())) return 6;
  return MoveFileExW((folder + L"\\outcome.tmp").c_str(), (folder + L"\\outcome.txt").c_str(),
                     MOVEFILE_REPLACE_EXISTING)
             ? 0
             : 7;
}
