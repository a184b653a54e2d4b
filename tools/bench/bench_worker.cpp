// Runs the update worker once per controller family against the simulated
// provider, with both fixed waits at zero, and prints how many provider calls
// of each method one full update makes and how long the worker itself takes.
//
// The worker reads data\*.bin beside its executable, so the program copies
// itself into a temporary folder, writes the image there and runs the copy.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/status.h"
#include "tools/bench/family_images.h"
#include "tools/simprovider/sim_provider.h"
#include "update/update_worker.h"

namespace {

constexpr int kRuns = 15;

std::wstring ExecutablePath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

bool WriteWhole(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

void NoWait(DWORD, SessionEnd&) {}

double RunWorkerOnce(UpdateState& state) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  HANDLE hThread = CreateThread(nullptr, 0, UpdateWorker, &state, 0, nullptr);
  WaitForSingleObject(hThread, INFINITE);
  QueryPerformanceCounter(&end);
  CloseHandle(hThread);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

int RunBenchmark() {
  const std::wstring exe = ExecutablePath();
  const std::wstring data = exe.substr(0, exe.rfind(L'\\')) + L"\\data";
  CreateDirectoryW(data.c_str(), nullptr);
  SetUpdateSleep(NoWait);

  std::printf(
      "family  image bytes  connect  GetCurrentNvmVersion  ReadFirmware  UpdateFirmware  status      "
      "worker ms (median / min of %d)\n",
      kRuns);
  // One update per family, then family 5 with images of shipping size: the
  // bytes past the active section are not compared, only read and handed over.
  const struct {
    int family;
    size_t imageSize;
  } rows[] = {{1, 0}, {2, 0},          {3, 0},           {4, 0},
              {5, 0}, {5, 256 * 1024}, {5, 1024 * 1024}, {5, 8 * 1024 * 1024}};
  for (const auto& row : rows) {
    const int family = row.family;
    FamilyPair pair = BuildFamilyPair(family, 0x30);
    if (row.imageSize > pair.image.size()) pair.image.resize(row.imageSize, 0xFF);
    if (!WriteWhole(data + L"\\fw.bin", pair.image)) return 1;
    std::vector<double> times;
    SimProvider counts;
    UpdateState state;
    for (int run = 0; run < kRuns; ++run) {
      ResetSimProvider();
      TheSimProvider().nvm = pair.controller;
      TheSimProvider().nvmVersion = 0x30;
      state = UpdateState();
      times.push_back(RunWorkerOnce(state));
      if (run == 0) counts = TheSimProvider();
    }
    std::sort(times.begin(), times.end());
    std::printf("%6d  %11zu  %7u  %20u  %12u  %14u  0x%08X  %8.3f / %.3f\n", family, pair.image.size(),
                counts.connectCalls, counts.versionCalls, counts.readCalls, counts.updateCalls,
                static_cast<unsigned>(state.m_dwStatus), times[times.size() / 2], times[0]);
    if (state.m_dwStatus != STATUS_OK) return 1;
  }
  DeleteFileW((data + L"\\fw.bin").c_str());
  RemoveDirectoryW(data.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--here") == 0) return RunBenchmark();

  // Run a copy in a folder of its own, so the data folder is ours alone.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"bench-worker-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring copy = folder + L"\\bench_worker.exe";
  if (!CreateDirectoryW(folder.c_str(), nullptr) ||
      !CopyFileW(ExecutablePath().c_str(), copy.c_str(), FALSE)) {
    std::fprintf(stderr, "bench_worker: cannot prepare %ls\n", folder.c_str());
    return 1;
  }
  std::wstring command = L"\"" + copy + L"\" --here";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  DWORD exitCode = 1;
  if (CreateProcessW(copy.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  DeleteFileW(copy.c_str());
  RemoveDirectoryW(folder.c_str());
  return static_cast<int>(exitCode);
}
