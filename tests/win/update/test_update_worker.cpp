// The update worker, run for real: a copy of this executable in a sandbox
// folder with a real data folder beside it, the worker on its own thread, the
// simulated provider, and recording stand-ins for the device switch, the
// service start and the two waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/status.h"
#include "tests/win/update/worker_scenario.h"
#include "update/attempt_record.h"
#include "tools/bench/family_images.h"

namespace {

constexpr uint32_t kProviderCode = 0x80041001;

std::wstring ExecutablePath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE hFind = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (hFind != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
  }
  RemoveDirectoryW(path.c_str());
}

// A folder of its own holding a copy of this executable; removed afterwards.
class Sandbox {
 public:
  // `depth`: make the folder path at least this many characters long.
  explicit Sandbox(size_t depth = 0) {
    static int s_count = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_root = std::wstring(temp) + L"ctl-worker-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++s_count);
    CreateDirectoryW(m_root.c_str(), nullptr);
    m_dir = m_root;
    while (m_dir.size() < depth) {
      m_dir += L"\\" + std::wstring(120, L'd');
      CreateDirectoryW(m_dir.c_str(), nullptr);
    }
    m_exe = m_dir + L"\\worker_child.exe";
    m_ready = CopyFileW(ExecutablePath().c_str(), m_exe.c_str(), FALSE) != FALSE;
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox() { RemoveTree(m_root); }

  bool ready() const { return m_ready; }
  const std::wstring& dir() const { return m_dir; }
  std::wstring data() const { return m_dir + L"\\data"; }

  void MakeData() const { CreateDirectoryW(data().c_str(), nullptr); }
  void MakeDataDir(const std::wstring& name) const {
    MakeData();
    CreateDirectoryW((data() + L"\\" + name).c_str(), nullptr);
  }
  void WriteData(const std::wstring& name, const std::vector<uint8_t>& bytes) const {
    MakeData();
    HANDLE h =
        CreateFileW((data() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  }
  // A file of `size` bytes that takes no room: its length is set, nothing written.
  void WriteSparseData(const std::wstring& name, int64_t size) const {
    MakeData();
    HANDLE h =
        CreateFileW((data() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
  }
  // Names in the order the system lists data\*.bin.
  std::vector<std::wstring> Listed() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((data() + L"\\*.bin").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
      if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) names.push_back(found.cFileName);
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
    return names;
  }

  // Names the one image this copy of the program writes, in its resources
  // where a release carries it.
  bool BindRelease(const std::string& sha256) const {
    const HANDLE hUpdate = BeginUpdateResourceW(m_exe.c_str(), FALSE);
    if (!hUpdate) return false;
    const BOOL ok =
        UpdateResourceW(hUpdate, RT_RCDATA, MAKEINTRESOURCEW(300), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                        const_cast<char*>(sha256.data()), static_cast<DWORD>(sha256.size()));
    return EndUpdateResourceW(hUpdate, !ok) && ok;
  }

  // Every run starts as after a restart: nothing handed over in this boot.
  ScenarioOutcome Run(const ScenarioSetup& setup) const {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kThisBootKey, KEY_WOW64_64KEY, 0);
    ScenarioOutcome outcome;
    // After one worker that never ended the others would most likely hang
    // too: they fail at once instead of each waiting out the watchdog.
    if (s_bChildHung) {
      ADD_FAILURE() << "not run: an earlier worker never ended";
      return outcome;
    }
    WriteScenario(m_dir, setup);
    if (!Start()) return outcome;
    ReadOutcome(m_dir, outcome);
    return outcome;
  }

 private:
  // A path beyond MAX_PATH cannot be started through CreateProcessW under
  // Wine; the loader started from a Unix shell takes it.
  bool Start() const {
    std::wstring command;
    std::wstring application;
    if (m_exe.size() < MAX_PATH) {
      application = m_exe;
      command = L"\"" + m_exe + L"\" --scenario";
    } else {
      using ToUnix = char*(CDECL*)(LPCWSTR);
      auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
      if (!toUnix) return false;
      char* unixPath = toUnix(m_exe.c_str());
      if (!unixPath) return false;
      const std::string path(unixPath);
      HeapFree(GetProcessHeap(), 0, unixPath);
      // A 64-bit child goes straight to Wine's 64-bit loader: "wine" reaches
      // it only through the 32-bit one, which may run only emulated.
      const std::wstring loader = sizeof(void*) == 8 ? L"/usr/lib/wine/wine64" : L"wine";
      command =
          L"Z:\\bin\\sh -c \"exec " + loader + L" $0 --scenario\" " + std::wstring(path.begin(), path.end());
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), &command[0], nullptr, nullptr,
                        FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return false;
    }
    bool ended = false;
    if (application.empty()) {
      // A Unix process's handle cannot be waited on: watch for its outcome.
      for (DWORD waited = 0; waited < kChildMillis && !ended; waited += 50) {
        ended = GetFileAttributesW((m_dir + L"\\outcome.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!ended) Sleep(50);
      }
    } else {
      ended = WaitForSingleObject(process.hProcess, kChildMillis) == WAIT_OBJECT_0;
      // A worker that never ends (a read that loops) fails its test now,
      // not CTest minutes later with the child still running.
      if (!ended) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
      }
    }
    if (!ended) {
      s_bChildHung = true;
      ADD_FAILURE() << "the worker's process did not end within " << kChildMillis << " ms";
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
  }

  // A run takes a second or two: the worker's waits are recorded, not slept.
  static constexpr DWORD kChildMillis = 20000;
  static inline bool s_bChildHung = false;
  std::wstring m_root, m_dir, m_exe;
  bool m_ready = false;
};

ScenarioSetup SetupFor(const FamilyPair& pair, uint32_t controllerVersion) {
  ScenarioSetup setup;
  setup.nvm = pair.controller;
  setup.nvmVersion = controllerVersion;
  return setup;
}

std::vector<std::string> EventNames(const ScenarioOutcome& outcome) {
  std::vector<std::string> names;
  for (const auto& e : outcome.events) names.push_back(e.what);
  return names;
}

// Every run: device on, service start, first wait before any provider call;
// second wait, then device off, at the end; both waits 10,000 ms; all inside
// the worker's COM apartment.
void ExpectFrameAroundTheWork(const ScenarioOutcome& outcome) {
  ASSERT_TRUE(outcome.ran) << "the worker's process gave no outcome";
  EXPECT_EQ(outcome.threadExitCode, 0u);
  const std::vector<std::string> names = EventNames(outcome);
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(names[0], "acpi 0x00060057 1");
  EXPECT_EQ(names[1], "service ThunderboltService");
  EXPECT_EQ(names[2], "sleep 10000");
  EXPECT_EQ(names[names.size() - 2], "sleep 10000");
  EXPECT_EQ(names.back(), "acpi 0x00060057 0");
  EXPECT_EQ(std::count(names.begin(), names.end(), "sleep 10000"), 2);
  EXPECT_EQ(
      std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("acpi", 0) == 0; }),
      2);
  // Nothing reached the provider before the first wait ended.
  const WorkerEvent& firstWait = outcome.events[2];
  EXPECT_EQ(firstWait.connects + firstWait.versions + firstWait.reads + firstWait.updates, 0u);
  // The second wait comes after the last provider call.
  const WorkerEvent& secondWait = outcome.events[names.size() - 2];
  EXPECT_EQ(secondWait.connects, outcome.connectCalls);
  EXPECT_EQ(secondWait.versions, outcome.versionCalls);
  EXPECT_EQ(secondWait.reads, outcome.readCalls);
  EXPECT_EQ(secondWait.updates, outcome.updateCalls);
  for (const auto& e : outcome.events) EXPECT_TRUE(e.comReady) << e.what << " ran outside a COM apartment";
}

class UpdateWorkerTest : public ::testing::Test {};

TEST_F(UpdateWorkerTest, SuccessWritesExactlyTheImageHeldOpenExclusively) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.ready());
  const FamilyPair pair = BuildFamilyPair(5, 0x21);
  sandbox.WriteData(L"fw.bin", pair.image);
  const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x20));

  ExpectFrameAroundTheWork(outcome);
  EXPECT_EQ(outcome.status, STATUS_OK);
  EXPECT_EQ(outcome.updateCalls, 1u);
  EXPECT_EQ(outcome.written, pair.image);
  EXPECT_EQ(EventNames(outcome),
            (std::vector<std::string>{"acpi 0x00060057 1", "service ThunderboltService", "sleep 10000",
                                      "open", "close", "sleep 10000", "acpi 0x00060057 0"}));
  // Opened after the version was read, closed only after the provider had it.
  EXPECT_EQ(outcome.events[3].connects, 1u);
  EXPECT_GE(outcome.events[3].versions, 1u);
  EXPECT_EQ(outcome.events[3].updates, 0u);
  EXPECT_EQ(outcome.events[4].updates, 1u);

  ASSERT_EQ(outcome.opens.size(), 1u);
  const auto& open = outcome.opens[0];
  EXPECT_EQ(open.path, sandbox.data() + L"\\fw.bin");
  EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ));
  EXPECT_EQ(open.share, 0u);
  EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(open.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

TEST_F(UpdateWorkerTest, EveryFamilyIsCheckedAndWritten) {
  for (int family = 1; family <= 5; ++family) {
    SCOPED_TRACE(family);
    Sandbox sandbox;
    const FamilyPair pair = BuildFamilyPair(family, 0x30, static_cast<uint16_t>(0x1000 * family));
    sandbox.WriteData(L"image.bin", pair.image);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, STATUS_OK);
    EXPECT_EQ(outcome.written, pair.image);
    EXPECT_GT(outcome.readCalls, 0u);
  }
}

TEST_F(UpdateWorkerTest, VersionPolicy) {
  const struct {
    const char* what;
    uint8_t imageVersion;
    uint32_t controllerVersion;
    int32_t downgradable;
    TbtStatus expected;
    int32_t checkOnly = 0;  // answers as the update would end, and writes nothing
  } cases[] = {
      {"newer", 0x22, 0x21, 0, STATUS_OK},
      {"equal is written again", 0x21, 0x21, 0, STATUS_OK},
      {"older refused", 0x20, 0x21, 0, ERR_DOWNGRADE_REFUSED},
      {"older with /downgradable", 0x20, 0x21, 1, STATUS_OK},
      {"controller version above any image byte", 0xFF, 0x100, 0, ERR_DOWNGRADE_REFUSED},
      {"downgradable is any non-zero value", 0x01, 0x100, -1, STATUS_OK},
      {"check only, newer", 0x22, 0x21, 0, STATUS_OK, 1},
      {"check only, older", 0x20, 0x21, 0, ERR_DOWNGRADE_REFUSED, 1},
      {"check only, older with /downgradable", 0x20, 0x21, 1, STATUS_OK, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    const FamilyPair pair = BuildFamilyPair(3, c.imageVersion);
    sandbox.WriteData(L"fw.bin", pair.image);
    ScenarioSetup setup = SetupFor(pair, c.controllerVersion);
    setup.downgradable = c.downgradable;
    setup.checkOnly = c.checkOnly;
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, c.expected);
    if (c.expected == STATUS_OK && !c.checkOnly) {
      EXPECT_EQ(outcome.written, pair.image);
    } else {
      EXPECT_EQ(outcome.updateCalls, 0u);
    }
  }
}

// SHA-256 by the older CryptoAPI, as a check on the log's own.
std::string Sha256Hex(const std::vector<uint8_t>& bytes) {
  HCRYPTPROV hProv = 0;
  HCRYPTHASH hHash = 0;
  BYTE digest[32] = {};
  DWORD size = sizeof digest;
  if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return "?";
  CryptCreateHash(hProv, CALG_SHA_256, 0, 0, &hHash);
  CryptHashData(hHash, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
  CryptGetHashParam(hHash, HP_HASHVAL, digest, &size, 0);
  CryptDestroyHash(hHash);
  CryptReleaseContext(hProv, 0);
  char hex[65];
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

// A value of the attempt record, as fleet tools read it (64-bit view).
std::wstring RecordValue(HKEY hRoot, const wchar_t* subkey, const wchar_t* name) {
  wchar_t text[128] = L"";
  DWORD size = sizeof text - sizeof(wchar_t);
  DWORD type = 0;
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(hRoot, subkey, 0, KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS) return L"(no key)";
  const LONG result = RegQueryValueExW(hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(hKey);
  if (result != ERROR_SUCCESS) return L"(none)";
  if (type == REG_DWORD) {
    DWORD value = 0;
    std::memcpy(&value, text, sizeof value);
    return std::to_wstring(value);
  }
  return type == REG_SZ ? std::wstring(text) : L"(type " + std::to_wstring(type) + L")";
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

bool Logged(const ScenarioOutcome& outcome, const std::string& start) {
  return std::any_of(outcome.log.begin(), outcome.log.end(),
                     [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// The log names each step, the image with its fingerprint, both layouts and,
// for a refusal, the row and both values; never the image's bytes.
TEST_F(UpdateWorkerTest, TheLogTellsEachStepAndWhyAnImageWasRefused) {
  FamilyPair pair = BuildFamilyPair(5, 0x31);
  {
    Sandbox sandbox;
    sandbox.WriteData(L"fw.bin", pair.image);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
    ASSERT_EQ(outcome.status, STATUS_OK);
    const std::wstring data = sandbox.data();
    for (const std::string& start :
         {std::string("device 0x00060057 on"), std::string("service ThunderboltService: start requested"),
          std::string("provider ROOT\\Intel\\Thunderbolt: connected"),
          "image: " + std::string(data.begin(), data.end()) + "\\fw.bin",
          "image: " + std::to_string(pair.image.size()) + " bytes, SHA-256 " + Sha256Hex(pair.image),
          std::string("image: not bound to a release"),
          std::string("controller: version 0x30, family 5, port configuration 1"),
          std::string("image: version 0x31, family 5, port configuration 1"),
          std::string("check and version policy: 0x00000000 STATUS_OK"),
          std::string("device 0x00060057 off")})
      EXPECT_TRUE(Logged(outcome, start)) << start;
    for (const std::string& line : outcome.log) EXPECT_LT(line.size(), 400u) << "no image bytes: " << line;
    // On record for fleet tools, where they look.
    EXPECT_TRUE(Logged(
        outcome, "record HKLM\\SOFTWARE\\Vorn\\TbtFwUpdate (64-bit view): LastAttemptStatus 0x00000000"));
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptImageSha256"),
              Wide(Sha256Hex(pair.image)));
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"ControllerVersion"), L"48");
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptImageVersion"), L"49");
  }
  // Snk0 of family 5, at section offset 0x121: another board.
  pair.image[0x4000 + 0x121] ^= 0x10;
  Sandbox sandbox;
  sandbox.WriteData(L"fw.bin", pair.image);
  const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
  ASSERT_EQ(outcome.status, ERR_IMAGE_MISMATCH);
  EXPECT_TRUE(Logged(outcome, "refused by row 45 \"Snk0\" (mask 0xFF): controller 0x"));
  EXPECT_TRUE(Logged(outcome, "check and version policy: 0x10430006 ERR_IMAGE_MISMATCH"));
  EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptStatus"),
            std::to_wstring(ERR_IMAGE_MISMATCH));
}

// Each attempt writes every value of the record: what it reached, and 0 or
// empty for what it did not, never a value of the attempt before.
TEST_F(UpdateWorkerTest, TheRecordHoldsWhatEachAttemptReachedAndNothingOlder) {
  const FamilyPair pair = BuildFamilyPair(5, 0x31);
  FamilyPair other = pair;
  other.image[0x4000 + 0x121] ^= 0x10;  // another board: refused by the check
  const std::wstring sha = Wide(Sha256Hex(pair.image)), otherSha = Wide(Sha256Hex(other.image));
  const struct {
    const char* what;
    const std::vector<uint8_t>& image;
    bool connectOk;
    TbtStatus status;
    const wchar_t *imageVersion, *versionBefore, *imageSha;
  } cases[] = {
      {"written", pair.image, true, STATUS_OK, L"49", L"48", sha.c_str()},
      {"refused by the check", other.image, true, ERR_IMAGE_MISMATCH, L"49", L"48", otherSha.c_str()},
      {"no connection", pair.image, false, ERR_PROVIDER_FAILED, L"0", L"0", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    sandbox.WriteData(L"fw.bin", c.image);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    setup.connectOk = c.connectOk;
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ASSERT_EQ(outcome.status, c.status);
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptStatus"),
              std::to_wstring(c.status));
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptImageVersion"), c.imageVersion);
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptImageSha256"), c.imageSha);
    for (const wchar_t* name : {L"ControllerVersionBeforeAttempt", L"ControllerVersion"})
      EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, name), c.versionBefore) << name;
    // Only a write is handed over, after "interrupted" is on record.
    const auto at = [&](const std::string& start) {
      return std::find_if(outcome.log.begin(), outcome.log.end(),
                          [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    };
    const auto inProgress =
        at("record HKLM\\SOFTWARE\\Vorn\\TbtFwUpdate (64-bit view): LastAttemptStatus 0x10430010 "
           "ERR_INTERRUPTED");
    const auto handing = at("UpdateFirmware: handing the image");
    EXPECT_EQ(handing != outcome.log.end(), c.status == STATUS_OK);
    if (c.status == STATUS_OK) {
      EXPECT_TRUE(inProgress < handing);
      EXPECT_TRUE(handing < at("UpdateFirmware: 0x00000000 STATUS_OK"));
      // The hand-over line reached the disk before the provider was called.
      EXPECT_TRUE(std::any_of(outcome.flushes.begin(), outcome.flushes.end(), [](const WorkerEvent& e) {
        return e.what.rfind("log flush after UpdateFirmware: handing the image", 0) == 0 && e.updates == 0;
      })) << "no flush of the hand-over line before UpdateFirmware";
    }
  }
}

// Only the provider's answer ends "interrupted", and none of its values may
// pass for one of this tool's own outcomes: each write's status, the record,
// this boot's note and the device after it.
TEST_F(UpdateWorkerTest, TheWritesAnswerDecidesTheRecordAndThisBoot) {
  const FamilyPair pair = BuildFamilyPair(5, 0x31);
  const struct {
    const char* what;
    uint32_t updateReturn;
    bool answers, recordFails;
    TbtStatus status;
    const wchar_t *providerCode, *thisBoot;  // LastAttemptProviderCode; ThisBoot's Attempt
    bool deviceOff;
  } cases[] = {
      {"written", 0, true, false, STATUS_OK, L"0", L"2", true},
      {"a provider's own code", 0x1F, true, false, 0x1F, L"31", L"(no key)", true},
      {"1115: not 'before the write'", 1115, true, false, ERR_PROVIDER_CODE_RESERVED, L"1115", L"(no key)",
       true},
      {"1223: not 'before any attempt'", 1223, true, false, ERR_PROVIDER_CODE_RESERVED, L"1223", L"(no key)",
       true},
      {"one of the 0x1043 family", ERR_IMAGE_UNUSABLE, true, false, ERR_PROVIDER_CODE_RESERVED, L"272826373",
       L"(no key)", true},
      {"written, then no answer", 0, false, false, ERR_OUTCOME_UNKNOWN, L"0", L"1", false},
      {"no record, no write", 0, true, true, ERR_RECORD_UNWRITABLE, nullptr, L"(no key)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    sandbox.WriteData(L"fw.bin", pair.image);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    setup.updateReturn = c.updateReturn;
    setup.updateAnswers = c.answers;
    setup.recordFails = c.recordFails;
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ASSERT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.updateCalls, c.recordFails ? 0u : 1u);
    if (c.providerCode) {
      EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptStatus"),
                std::to_wstring(c.status));
      EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptProviderCode"),
                c.providerCode);
    }
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kThisBootKey, L"Attempt"), c.thisBoot);
    // The settle wait follows every write; the device goes off unless the
    // provider may still be writing.
    const std::vector<std::string> names = EventNames(outcome);
    EXPECT_EQ(std::count(names.begin(), names.end(), "sleep 10000"), 2);
    EXPECT_EQ(names.back() == "acpi 0x00060057 0", c.deviceOff) << names.back();
  }
}

// A session that starts to end before the image is handed over: the image
// never is, the device is switched off at once, and 1115 is on record.
TEST_F(UpdateWorkerTest, ASessionEndBeforeTheWriteStopsTheRunWithoutWaiting) {
  const FamilyPair pair = BuildFamilyPair(5, 0x31);
  const struct {
    const char* at;
    uint32_t connects;
    int reads;                    // -1: not looked at
    const wchar_t* imageVersion;  // null: not looked at
  } cases[] = {
      {"sleep 10000", 0, 0, L"0"},
      {"open", 1, 0, nullptr},      // the check stops at its first call
      {"read 3", 1, 2, nullptr},    // between two calls of the check: the next is never made
      {"log flush", 1, -1, L"49"},  // while the hand-over line goes to the disk
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    Sandbox sandbox;
    sandbox.WriteData(L"fw.bin", pair.image);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    setup.sessionEndsAt = c.at;
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ASSERT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.status, STATUS_SESSION_ENDING);
    EXPECT_EQ(outcome.connectCalls, c.connects);
    if (c.reads >= 0) {
      EXPECT_EQ(outcome.readCalls, static_cast<uint32_t>(c.reads));
    }
    EXPECT_EQ(outcome.updateCalls, 0u);
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kThisBootKey, L"Attempt"), L"(no key)")
        << "nothing handed over";
    const std::vector<std::string> names = EventNames(outcome);
    EXPECT_EQ(std::count(names.begin(), names.end(), "sleep 10000"), 1) << "no settle wait without a write";
    EXPECT_EQ(names.back(), "acpi 0x00060057 0");
    EXPECT_TRUE(Logged(outcome, "the session is ending: stopped"));
    EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptStatus"), L"1115");
    if (c.imageVersion) {
      EXPECT_EQ(RecordValue(HKEY_LOCAL_MACHINE, kAttemptRecordKey, L"LastAttemptImageVersion"),
                c.imageVersion);
    }
  }
}

// The record through the platform's registry functions, under a key of the
// test's own: a check leaves the record of the last update as it was.
TEST(AttemptRecordTest, ACheckNeverHidesTheLastUpdate) {
  const wchar_t kKey[] = L"Software\\TbtFwUpdateTest\\Record";
  RegDeleteKeyExW(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, 0);
  AttemptRecord attempt;
  attempt.status = 0x1F;
  attempt.versionBeforeAttempt = 0x20;
  attempt.imageVersion = 0x22;
  attempt.imageSha256 = "d1e1e72575073b9401374f69b5ae0b84ded38d008bd66a556225db15fe67bc16";
  ASSERT_EQ(WriteAttemptRecord(HKEY_CURRENT_USER, kKey, attempt), ERROR_SUCCESS);
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"LastCheckStatus"), L"(none)");
  AttemptRecord check = attempt;
  check.checkOnly = true;
  check.status = STATUS_OK;
  check.imageSha256 = "00";
  ASSERT_EQ(WriteAttemptRecord(HKEY_CURRENT_USER, kKey, check), ERROR_SUCCESS);
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"LastAttemptStatus"), L"31");
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"ControllerVersionBeforeAttempt"), L"32");
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"ControllerVersion"), L"32");
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"LastAttemptImageVersion"), L"34");
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"LastAttemptImageSha256"), Wide(attempt.imageSha256));
  EXPECT_EQ(RecordValue(HKEY_CURRENT_USER, kKey, L"LastCheckStatus"), L"0");
  // ISO 8601, UTC, to the second.
  for (const wchar_t* name : {L"LastAttemptTime", L"LastCheckTime"}) {
    const std::wstring time = RecordValue(HKEY_CURRENT_USER, kKey, name);
    ASSERT_EQ(time.size(), 20u) << name;
    EXPECT_EQ(time.substr(0, 2), L"20");
    EXPECT_EQ(time[10], L'T');
    EXPECT_EQ(time.back(), L'Z');
  }
  SYSTEMTIME t{};
  t.wYear = 2026, t.wMonth = 12, t.wDay = 8, t.wHour = 6, t.wMinute = 4, t.wSecond = 3;
  EXPECT_EQ(Iso8601Utc(t), L"2026-12-08T06:04:03Z");
  RecordedAttempt last;
  ASSERT_TRUE(ReadAttemptRecord(HKEY_CURRENT_USER, kKey, last));
  EXPECT_EQ(last.status, 0x1Fu);
  EXPECT_EQ(last.imageVersion, 0x22u);
  EXPECT_EQ(last.imageSha256, Wide(attempt.imageSha256));
  EXPECT_EQ(last.time, RecordValue(HKEY_CURRENT_USER, kKey, L"LastAttemptTime"));
  RegDeleteKeyExW(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, 0);
}

TEST_F(UpdateWorkerTest, ProviderFailuresEndBeforeTheImageIsTouched) {
  const struct {
    const char* what;
    void (*setUp)(ScenarioSetup&);
    TbtStatus expected;
    uint32_t versionCalls;
  } cases[] = {
      {"provider unreachable", [](ScenarioSetup& s) { s.connectOk = false; }, ERR_PROVIDER_FAILED, 0},
      {"no controller listed", [](ScenarioSetup& s) { s.controllerListed = false; }, ERR_CONTROLLER_NOT_FOUND,
       1},
      {"version call fails with the provider's code",
       [](ScenarioSetup& s) { s.versionReturn = kProviderCode; }, kProviderCode, 1},
      {"success without a version", [](ScenarioSetup& s) { s.versionAvailable = false; }, ERR_PROVIDER_FAILED,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    const FamilyPair pair = BuildFamilyPair(4, 0x40);
    sandbox.WriteData(L"fw.bin", pair.image);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    c.setUp(setup);
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, c.expected);
    EXPECT_EQ(outcome.connectCalls, 1u);
    EXPECT_EQ(outcome.versionCalls, c.versionCalls);
    EXPECT_EQ(outcome.readCalls, 0u);
    EXPECT_EQ(outcome.updateCalls, 0u);
    EXPECT_TRUE(outcome.opens.empty()) << "the image file was opened";
    EXPECT_EQ(EventNames(outcome).size(), 5u);
  }
}

TEST_F(UpdateWorkerTest, AnImageThatCannotBeUsedIsRefusedAfterTheVersionWasRead) {
  const FamilyPair pair = BuildFamilyPair(2, 0x40);
  const struct {
    const char* what;
    void (*prepare)(const Sandbox&, const FamilyPair&);
    size_t opens;
  } cases[] = {
      {"no data folder", [](const Sandbox&, const FamilyPair&) {}, 0},
      {"no *.bin in the folder",
       [](const Sandbox& s, const FamilyPair& p) {
         s.WriteData(L"Update.ini", {'[', ']'});
         s.WriteData(L"fw.bin.txt", p.image);
       },
       0},
      {"a directory matches", [](const Sandbox& s, const FamilyPair&) { s.MakeDataDir(L"fw.bin"); }, 1},
      {"names that match *.bin only by their short names",
       [](const Sandbox& s, const FamilyPair& p) {
         s.WriteData(L"z.binary", p.image);
         s.WriteData(L"img.bin~", p.image);
       },
       0},
      {"empty file", [](const Sandbox& s, const FamilyPair&) { s.WriteData(L"fw.bin", {}); }, 1},
      {"too short for its section",
       [](const Sandbox& s, const FamilyPair& p) {
         s.WriteData(L"fw.bin", std::vector<uint8_t>(p.image.begin(), p.image.begin() + 0x4100));
       },
       1},
      {"both header words 0",
       [](const Sandbox& s, const FamilyPair& p) {
         std::vector<uint8_t> image = p.image;
         image[0] = image[1] = image[0x1000] = image[0x1001] = 0;
         s.WriteData(L"fw.bin", image);
       },
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    c.prepare(sandbox, pair);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, ERR_IMAGE_UNUSABLE);
    EXPECT_GE(outcome.versionCalls, 1u);
    EXPECT_EQ(outcome.updateCalls, 0u);
    EXPECT_EQ(outcome.opens.size(), c.opens);
  }
}

// A compatible image whose read stops early: the check would pass on its
// headers, and the zeros after the cut would be written.
TEST_F(UpdateWorkerTest, AnImageNotReadWholeIsNeverChecked) {
  const FamilyPair pair = BuildFamilyPair(5, 0x40);
  const struct {
    const char* what;
    int64_t limit;
    bool fails;
  } cases[] = {
      {"short read", static_cast<int64_t>(pair.image.size() * 9 / 20), false},
      {"one byte short", static_cast<int64_t>(pair.image.size() - 1), false},
      {"failed read", static_cast<int64_t>(pair.image.size() / 2), true},
      {"nothing read", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    sandbox.WriteData(L"fw.bin", pair.image);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    setup.imageReadLimit = c.limit;
    setup.imageReadFails = c.fails;
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, ERR_IMAGE_UNUSABLE);
    EXPECT_EQ(outcome.readCalls, 0u) << "the controller is not asked about an image we do not have";
    EXPECT_EQ(outcome.updateCalls, 0u);
    EXPECT_EQ(EventNames(outcome).at(4), "close");
  }
}

TEST_F(UpdateWorkerTest, AnImageDeliveredInPiecesIsReadWhole) {
  const FamilyPair pair = BuildFamilyPair(5, 0x40);
  Sandbox sandbox;
  sandbox.WriteData(L"fw.bin", pair.image);
  ScenarioSetup setup = SetupFor(pair, 0x30);
  setup.imageReadPiece = static_cast<uint32_t>(pair.image.size() / 3 + 1);  // three reads, the last one short
  const ScenarioOutcome outcome = sandbox.Run(setup);
  EXPECT_EQ(outcome.status, STATUS_OK);
  EXPECT_EQ(outcome.written, pair.image);
}

TEST_F(UpdateWorkerTest, AnImageHeldOpenByAnotherProgramIsUnusable) {
  Sandbox sandbox;
  const FamilyPair pair = BuildFamilyPair(5, 0x40);
  sandbox.WriteData(L"fw.bin", pair.image);
  // Another program reads it and lets others read too; the worker wants it alone.
  HANDLE hOther = CreateFileW((sandbox.data() + L"\\fw.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hOther, INVALID_HANDLE_VALUE);
  const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
  CloseHandle(hOther);
  ExpectFrameAroundTheWork(outcome);
  EXPECT_EQ(outcome.status, ERR_IMAGE_UNUSABLE);
  ASSERT_EQ(outcome.opens.size(), 1u);
  EXPECT_FALSE(outcome.opens[0].succeeded);
  EXPECT_EQ(outcome.updateCalls, 0u);
}

TEST_F(UpdateWorkerTest, ImagesTooLargeForABlockAreOutOfMemory) {
  const struct {
    const char* what;
    int64_t size;
    bool needs32BitAddressSpace;
  } cases[] = {
      {"4 GB and 16 bytes: not cut to 16 bytes", (int64_t{1} << 32) + 16, false},
      {"2 GB: no 32-bit block of that size", 0x7FFFFFF0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs32BitAddressSpace && sizeof(void*) != 4)
      GTEST_SKIP() << c.what << ": needs the 32-bit address space of the shipped program";
    Sandbox sandbox;
    const FamilyPair pair = BuildFamilyPair(5, 0x40);
    sandbox.WriteSparseData(L"fw.bin", c.size);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, ERR_OUT_OF_MEMORY);
    EXPECT_EQ(outcome.readCalls, 0u);  // never reached the check
    EXPECT_EQ(outcome.updateCalls, 0u);
    EXPECT_EQ(EventNames(outcome).at(4), "close");  // the file is closed on this path too
  }
}

TEST_F(UpdateWorkerTest, CheckAndUpdateStatusesArePassedOn) {
  const struct {
    const char* what;
    void (*change)(FamilyPair&, ScenarioSetup&);
    TbtStatus expected;
    uint32_t updateCalls;
  } cases[] = {
      {"image of another family",
       [](FamilyPair& p, ScenarioSetup&) { p.image = BuildFamilyPair(3, 0x40).image; }, ERR_FAMILY_MISMATCH,
       0},
      {"PCIe settings differ", [](FamilyPair& p, ScenarioSetup&) { p.image[0x4000 + 0x13] ^= 0x80; },
       ERR_IMAGE_MISMATCH, 0},
      {"controller of family 0",
       [](FamilyPair& p, ScenarioSetup& s) {
         s.nvm[5] = 0x67, s.nvm[6] = 0x15;
         (void)p;
       },
       ERR_UNSUPPORTED_FAMILY, 0},
      {"update refused by the provider",
       [](FamilyPair&, ScenarioSetup& s) { s.updateReturn = kProviderCode; }, kProviderCode, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    FamilyPair pair = BuildFamilyPair(5, 0x40);
    ScenarioSetup setup = SetupFor(pair, 0x30);
    c.change(pair, setup);
    sandbox.WriteData(L"fw.bin", pair.image);
    const ScenarioOutcome outcome = sandbox.Run(setup);
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, c.expected);
    EXPECT_EQ(outcome.updateCalls, c.updateCalls);
  }
}

TEST_F(UpdateWorkerTest, OnlyTheFirstListedEntryIsUsed) {
  const FamilyPair first = BuildFamilyPair(1, 0x40, 0x4000, 1);
  const FamilyPair second = BuildFamilyPair(1, 0x40, 0x4000, 2);
  ASSERT_NE(first.image, second.image);
  {
    Sandbox sandbox;
    sandbox.WriteData(L"a.bin", first.image);
    sandbox.WriteData(L"b.bin", second.image);
    const std::vector<std::wstring> listed = sandbox.Listed();
    ASSERT_EQ(listed.size(), 2u);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(first, 0x40));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, STATUS_OK);
    EXPECT_EQ(outcome.written, listed[0] == L"a.bin" ? first.image : second.image);
    ASSERT_EQ(outcome.opens.size(), 1u);
    EXPECT_EQ(outcome.opens[0].path, sandbox.data() + L"\\" + listed[0]);
  }
  {
    // A directory is taken like a file when it is listed first.
    Sandbox sandbox;
    sandbox.MakeDataDir(L"a.bin");
    sandbox.WriteData(L"b.bin", first.image);
    const std::vector<std::wstring> listed = sandbox.Listed();
    ASSERT_EQ(listed.size(), 2u);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(first, 0x40));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, listed[0] == L"a.bin" ? ERR_IMAGE_UNUSABLE : STATUS_OK);
    ASSERT_EQ(outcome.opens.size(), 1u);
    EXPECT_EQ(outcome.opens[0].path, sandbox.data() + L"\\" + listed[0]);
  }
}

// A stray file beside the image whose short name ends in ".BIN" (a build's
// "fw.binary", an editor's "fw.bin~") is listed for *.bin, and never used.
TEST_F(UpdateWorkerTest, OnlyAFileNamedBinIsTheImage) {
  const FamilyPair pair = BuildFamilyPair(1, 0x40);
  Sandbox sandbox;
  std::vector<uint8_t> other = pair.image;
  other[0x4000 + 0x13] ^= 0x80;  // another board: would be refused if it were taken
  sandbox.WriteData(L"a.binary", other);
  sandbox.WriteData(L"b.bin~", other);
  sandbox.WriteData(L"c.bin", pair.image);
  const std::vector<std::wstring> listed = sandbox.Listed();
  if (listed.empty() || listed[0] == L"c.bin")
    GTEST_SKIP() << "this file system lists no stray name before c.bin for *.bin";
  const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x40));
  ExpectFrameAroundTheWork(outcome);
  EXPECT_EQ(outcome.status, STATUS_OK);
  EXPECT_EQ(outcome.written, pair.image);
  ASSERT_EQ(outcome.opens.size(), 1u);
  EXPECT_EQ(outcome.opens[0].path, sandbox.data() + L"\\c.bin");
}

// A release writes the image its resources name and nothing else: a binding
// that does not name an image in the one form the package script writes (64
// lower-case hex digits) is no binding to trust, and writes nothing.
TEST_F(UpdateWorkerTest, AReleaseBindingWritesOnlyTheImageItNamesInItsOwnForm) {
  const FamilyPair pair = BuildFamilyPair(5, 0x31);
  const std::string sha = Sha256Hex(pair.image);
  std::string upper = sha;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    const char* what;
    std::string binding;
    TbtStatus status;
  } cases[] = {
      {"the image's own", sha, STATUS_OK},
      {"63 digits", sha.substr(0, 63), ERR_IMAGE_NOT_RELEASED},
      {"upper-case hex", upper, ERR_IMAGE_NOT_RELEASED},
      {"another image's", std::string(64, 'a'), ERR_IMAGE_NOT_RELEASED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    ASSERT_TRUE(sandbox.BindRelease(c.binding));
    sandbox.WriteData(L"fw.bin", pair.image);
    const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x30));
    ExpectFrameAroundTheWork(outcome);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.updateCalls, c.status == STATUS_OK ? 1u : 0u);
    EXPECT_EQ(outcome.readCalls > 0, c.status == STATUS_OK) << "a refused image is never checked";
  }
}

TEST_F(UpdateWorkerTest, RunsFromAFolderDeeperThanAThousandCharacters) {
  Sandbox sandbox(1100);
  ASSERT_TRUE(sandbox.ready());
  ASSERT_GT(sandbox.dir().size(), 1024u);
  const FamilyPair pair = BuildFamilyPair(5, 0x41);
  sandbox.WriteData(L"fw.bin", pair.image);
  const ScenarioOutcome outcome = sandbox.Run(SetupFor(pair, 0x40));
  ExpectFrameAroundTheWork(outcome);
  EXPECT_EQ(outcome.status, STATUS_OK);
  EXPECT_EQ(outcome.written, pair.image);
  // The whole path reaches the system, in the form that lifts MAX_PATH.
  ASSERT_EQ(outcome.opens.size(), 1u);
  EXPECT_EQ(outcome.opens[0].path, L"\\\\?\\" + sandbox.data() + L"\\fw.bin");
}

}  // namespace

int main(int argc, char** argv) {
  if (IsScenarioChild(argc, argv)) return RunScenarioChild();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
