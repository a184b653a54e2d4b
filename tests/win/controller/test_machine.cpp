// The ACPI channel, the service start and the power-off against the system:
// Wine's own answers where it has them (no QMXACPI device, no
// ThunderboltService), and a scripted driver and service manager in place of
// the system functions where the tests need other answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/acpi_channel.h"
#include "controller/acpi_request.h"
#include "controller/power_off.h"
#include "controller/tbt_service.h"
#include "tests/win/controller/iat_patch.h"

namespace {

constexpr uint32_t kSentinel = 0xCAFEF00D;

// --- The ACPI driver as CreateFileW and DeviceIoControl see it. ---

struct CreateCall {
  std::wstring path;
  DWORD access, share;
  bool security;
  DWORD disposition, flags;
  bool templateFile;
};
struct IoCall {
  HANDLE handle;
  DWORD code;
  std::vector<uint8_t> request;
  DWORD replyCapacity;
  bool overlapped;
};

struct Driver {
  // Script. Without `present`, CreateFileW and DeviceIoControl go to the system.
  bool present = false;
  BOOL ioResult = TRUE;
  std::vector<uint8_t> reply;
  DWORD claimed = 0;  // non-zero: the byte count the driver reports instead of reply.size()
  // Record.
  std::vector<CreateCall> creates;
  std::vector<IoCall> ios;
  std::vector<HANDLE> opened;
};
Driver* g_pDriver = nullptr;
ImportPatch* g_pCreatePatch = nullptr;
ImportPatch* g_pIoPatch = nullptr;

bool IsDevicePath(LPCWSTR path) {
  return path && lstrcmpiW(path, L"\\\\.\\QMXACPI") == 0;
}

HANDLE WINAPI RecordCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
  using Fn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  if (!IsDevicePath(path))
    return g_pCreatePatch->Original<Fn>()(path, access, share, sa, disposition, flags, templateFile);
  g_pDriver->creates.push_back(
      {path, access, share, sa != nullptr, disposition, flags, templateFile != nullptr});
  if (!g_pDriver->present) {
    HANDLE h = g_pCreatePatch->Original<Fn>()(path, access, share, sa, disposition, flags, templateFile);
    const DWORD error = GetLastError();
    SetLastError(error);
    return h;
  }
  // A real handle of our own, so that closing it is a real close.
  HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_pDriver->opened.push_back(h);
  return h;
}

BOOL WINAPI RecordDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  using Fn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  const auto* bytes = static_cast<const uint8_t*>(in);
  g_pDriver->ios.push_back({handle, code, std::vector<uint8_t>(bytes, bytes + (bytes ? inSize : 0)), outSize,
                            overlapped != nullptr});
  if (!g_pDriver->present)
    return g_pIoPatch->Original<Fn>()(handle, code, in, inSize, out, outSize, returned, overlapped);
  if (!g_pDriver->ioResult) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const DWORD count = std::min<DWORD>(outSize, static_cast<DWORD>(g_pDriver->reply.size()));
  if (count) memcpy(out, g_pDriver->reply.data(), count);
  *returned = g_pDriver->claimed ? g_pDriver->claimed : count;
  return TRUE;
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pDriver = &driver;
    g_pCreatePatch = &createPatch;
    g_pIoPatch = &ioPatch;
    ASSERT_TRUE(createPatch.Active());
    ASSERT_TRUE(ioPatch.Active());
  }
  void TearDown() override {
    AcpiClose();
    for (HANDLE h : driver.opened) {
      DWORD info = 0;
      EXPECT_FALSE(GetHandleInformation(h, &info)) << "a handle of the channel was left open";
    }
    g_pDriver = nullptr;
  }
  static bool HandleIsOpen(HANDLE h) {
    DWORD info = 0;
    return GetHandleInformation(h, &info) != FALSE;
  }

  Driver driver;
  ImportPatch createPatch{"kernel32.dll", "CreateFileW", reinterpret_cast<void*>(RecordCreateFileW)};
  ImportPatch ioPatch{"kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(RecordDeviceIoControl)};
};

// Runs first, while the process's channel is still in its start state.
TEST_F(ChannelTest, StartsEmptyAndWineHasNoDeviceSoTheOpenLeavesItFailed) {
  uint32_t reply = kSentinel;
  EXPECT_FALSE(AcpiIsOpen());
  EXPECT_FALSE(AcpiClose());
  EXPECT_FALSE(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply));
  EXPECT_EQ(reply, kSentinel);
  EXPECT_TRUE(driver.ios.empty());

  EXPECT_FALSE(AcpiOpen());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(driver.creates.size(), 1u);
  const CreateCall& open = driver.creates[0];
  EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(open.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_FALSE(open.security);
  EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(open.flags, 0u);
  EXPECT_FALSE(open.templateFile);

  // Failed: nothing to close, nothing sent, however often asked.
  EXPECT_FALSE(AcpiIsOpen());
  EXPECT_FALSE(AcpiClose());
  EXPECT_FALSE(AcpiClose());
  EXPECT_FALSE(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_OFF, reply));
  EXPECT_EQ(reply, kSentinel);
  EXPECT_TRUE(driver.ios.empty());
}

TEST_F(ChannelTest, OpenExchangeAndCloseWithADriver) {
  driver.present = true;
  ASSERT_TRUE(AcpiOpen());
  ASSERT_EQ(driver.opened.size(), 1u);
  EXPECT_TRUE(AcpiIsOpen());

  driver.reply = {0x78, 0x56, 0x34, 0x12};
  uint32_t reply = kSentinel;
  EXPECT_TRUE(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply));
  EXPECT_EQ(reply, 0x12345678u);
  EXPECT_TRUE(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_OFF, reply));
  ASSERT_EQ(driver.ios.size(), 2u);
  const std::vector<uint8_t> on = {0x44, 0x45, 0x56, 0x53, 8, 0, 0, 0, 0x57, 0, 0x06, 0, 1, 0, 0, 0};
  std::vector<uint8_t> off = on;
  off[12] = 0;
  EXPECT_EQ(driver.ios[0].request, on);
  EXPECT_EQ(driver.ios[1].request, off);
  for (const IoCall& io : driver.ios) {
    EXPECT_EQ(io.handle, driver.opened[0]);
    EXPECT_EQ(io.code, static_cast<DWORD>(IOCTL_QMXACPI_CALL));
    EXPECT_EQ(io.replyCapacity, 1024u);
    EXPECT_FALSE(io.overlapped);
  }

  EXPECT_TRUE(AcpiClose());
  EXPECT_FALSE(HandleIsOpen(driver.opened[0]));
  EXPECT_FALSE(AcpiIsOpen());
  EXPECT_FALSE(AcpiClose());
  EXPECT_FALSE(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply));
  EXPECT_EQ(driver.ios.size(), 2u);

  // The channel can be opened again after a close.
  ASSERT_TRUE(AcpiOpen());
  EXPECT_TRUE(AcpiIsOpen());
}

TEST_F(ChannelTest, SetDeviceStateReadsFourReplyBytesOrZero) {
  const struct {
    const char* what;
    BOOL ioResult;
    std::vector<uint8_t> reply;
    bool expected;
    uint32_t value;
  } cases[] = {
      {"four bytes", TRUE, {1, 0, 0, 0}, true, 1},
      {"no reply bytes", TRUE, {}, true, 0},
      {"three bytes", TRUE, {0xFF, 0xFF, 0xFF}, true, 0},
      {"more than four", TRUE, {4, 3, 2, 1, 9, 9, 9, 9}, true, 0x01020304},
      {"exchange fails", FALSE, {1, 2, 3, 4}, false, kSentinel},
  };
  driver.present = true;
  ASSERT_TRUE(AcpiOpen());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    driver.ioResult = c.ioResult;
    driver.reply = c.reply;
    uint32_t reply = kSentinel;
    EXPECT_EQ(AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply), c.expected);
    EXPECT_EQ(reply, c.value);
  }
}

TEST_F(ChannelTest, CallDeliversAtMostTheCapacityAndLeavesAFailureUntouched) {
  std::vector<uint8_t> answer(1024);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i ^ 0x5A);
  const struct {
    const char* what;
    BOOL ioResult;
    size_t replyBytes;
    DWORD claimed;
    uint32_t capacity;
    bool expected;
    uint32_t delivered;
  } cases[] = {
      {"shorter than capacity", TRUE, 6, 0, 16, true, 6},
      {"cut to capacity", TRUE, 10, 0, 2, true, 2},
      {"full reply", TRUE, 1024, 0, 2048, true, 1024},
      {"driver claims more than it was offered", TRUE, 1024, 5000, 4096, true, 1024},
      {"nothing wanted", TRUE, 10, 0, 0, true, 0},
      {"exchange fails", FALSE, 10, 0, 16, false, 77},
  };
  driver.present = true;
  ASSERT_TRUE(AcpiOpen());
  const uint8_t payload[3] = {0xA1, 0xA2, 0xA3};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    driver.ioResult = c.ioResult;
    driver.reply.assign(answer.begin(), answer.begin() + c.replyBytes);
    driver.claimed = c.claimed;
    std::vector<uint8_t> reply(4096 + 16, 0xEE);
    uint32_t length = c.ioResult ? c.capacity : 77;
    EXPECT_EQ(AcpiCall(0x31323334, payload, sizeof(payload), reply.data(), length), c.expected);
    EXPECT_EQ(length, c.delivered);
    for (size_t i = 0; i < reply.size(); ++i) {
      const uint8_t expected = c.expected && i < c.delivered ? answer[i] : 0xEE;
      ASSERT_EQ(reply[i], expected) << "byte " << i;
    }
    EXPECT_EQ(driver.ios.back().request,
              (std::vector<uint8_t>{0x34, 0x33, 0x32, 0x31, 3, 0, 0, 0, 0xA1, 0xA2, 0xA3}));
  }
  // A payload that is not there is not sent.
  const size_t sent = driver.ios.size();
  uint32_t length = 4;
  uint8_t reply[4];
  EXPECT_FALSE(AcpiCall(ACPI_METHOD_DEVS, nullptr, 8, reply, length));
  EXPECT_FALSE(AcpiCall(ACPI_METHOD_DEVS, payload, ACPI_MAX_PAYLOAD + 1, reply, length));
  EXPECT_EQ(driver.ios.size(), sent);
}

// --- The service control manager. ---

struct ScmCall {
  std::string function;
  std::wstring name;
  DWORD access;
  DWORD argc;
  bool argv;
};
struct Scm {
  bool scripted = false;  // otherwise the calls go to Wine's service manager
  bool managerOpens = true;
  bool serviceOpens = true;
  BOOL startResult = TRUE;
  std::vector<ScmCall> calls;
};
Scm* g_pScm = nullptr;
ImportPatch* g_pScmPatches[4] = {};
SC_HANDLE const kManager = reinterpret_cast<SC_HANDLE>(0x1000);
SC_HANDLE const kService = reinterpret_cast<SC_HANDLE>(0x2000);

SC_HANDLE WINAPI RecordOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
  g_pScm->calls.push_back({"OpenSCManagerW",
                           (machine ? L"machine " : L"") + std::wstring(database ? L"db" : L""), access, 0,
                           false});
  if (!g_pScm->scripted)
    return g_pScmPatches[0]->Original<SC_HANDLE(WINAPI*)(LPCWSTR, LPCWSTR, DWORD)>()(machine, database,
                                                                                     access);
  return g_pScm->managerOpens ? kManager : nullptr;
}
SC_HANDLE WINAPI RecordOpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
  g_pScm->calls.push_back({"OpenServiceW", name ? name : L"", access, 0, false});
  if (!g_pScm->scripted) {
    SC_HANDLE h =
        g_pScmPatches[1]->Original<SC_HANDLE(WINAPI*)(SC_HANDLE, LPCWSTR, DWORD)>()(manager, name, access);
    g_pScm->calls.back().argc = GetLastError();  // keeps Wine's error for the test
    return h;
  }
  return g_pScm->serviceOpens ? kService : nullptr;
}
BOOL WINAPI RecordStartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv) {
  g_pScm->calls.push_back(
      {"StartServiceW", service == kService ? L"service" : L"?", 0, argc, argv != nullptr});
  if (!g_pScm->scripted)
    return g_pScmPatches[2]->Original<BOOL(WINAPI*)(SC_HANDLE, DWORD, LPCWSTR*)>()(service, argc, argv);
  if (!g_pScm->startResult) SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
  return g_pScm->startResult;
}
BOOL WINAPI RecordCloseServiceHandle(SC_HANDLE handle) {
  g_pScm->calls.push_back({"CloseServiceHandle", handle == kService ? L"service" : L"manager", 0, 0, false});
  if (!g_pScm->scripted) return g_pScmPatches[3]->Original<BOOL(WINAPI*)(SC_HANDLE)>()(handle);
  return TRUE;
}

class ServiceStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pScm = &scm;
    for (int i = 0; i < 4; ++i) {
      g_pScmPatches[i] = &patches[i];
      ASSERT_TRUE(patches[i].Active()) << i;
    }
  }
  void TearDown() override { g_pScm = nullptr; }
  std::vector<std::string> Functions() const {
    std::vector<std::string> names;
    for (const auto& call : scm.calls) names.push_back(call.function);
    return names;
  }

  Scm scm;
  ImportPatch patches[4] = {
      {"advapi32.dll", "OpenSCManagerW", reinterpret_cast<void*>(RecordOpenSCManagerW)},
      {"advapi32.dll", "OpenServiceW", reinterpret_cast<void*>(RecordOpenServiceW)},
      {"advapi32.dll", "StartServiceW", reinterpret_cast<void*>(RecordStartServiceW)},
      {"advapi32.dll", "CloseServiceHandle", reinterpret_cast<void*>(RecordCloseServiceHandle)},
  };
};

TEST_F(ServiceStartTest, WineHasNoThunderboltServiceSoOnlyTheManagerIsOpenedAndClosed) {
  StartTbtService(L"ThunderboltService");
  ASSERT_EQ(Functions(), (std::vector<std::string>{"OpenSCManagerW", "OpenServiceW", "CloseServiceHandle"}));
  EXPECT_EQ(scm.calls[0].name, L"");                                       // local machine, default database
  EXPECT_EQ(scm.calls[0].access, static_cast<DWORD>(SC_MANAGER_CONNECT));  // no more than the start needs
  EXPECT_EQ(scm.calls[1].name, L"ThunderboltService");
  EXPECT_EQ(scm.calls[1].access, static_cast<DWORD>(SERVICE_START | SERVICE_QUERY_STATUS));
  EXPECT_EQ(scm.calls[1].argc, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(scm.calls[2].name, L"manager");
}

TEST_F(ServiceStartTest, OpensStartsAndClosesInOrder) {
  const struct {
    const char* what;
    bool managerOpens, serviceOpens;
    BOOL startResult;
    std::vector<std::string> calls;
  } cases[] = {
      {"no manager", false, true, TRUE, {"OpenSCManagerW"}},
      {"no service", true, false, TRUE, {"OpenSCManagerW", "OpenServiceW", "CloseServiceHandle"}},
      {"started",
       true,
       true,
       TRUE,
       {"OpenSCManagerW", "OpenServiceW", "StartServiceW", "CloseServiceHandle", "CloseServiceHandle"}},
      {"already running",
       true,
       true,
       FALSE,
       {"OpenSCManagerW", "OpenServiceW", "StartServiceW", "CloseServiceHandle", "CloseServiceHandle"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scm.calls.clear();
    scm.scripted = true;
    scm.managerOpens = c.managerOpens;
    scm.serviceOpens = c.serviceOpens;
    scm.startResult = c.startResult;
    StartTbtService(L"ThunderboltService");
    ASSERT_EQ(Functions(), c.calls);
    if (c.calls.size() == 5) {
      EXPECT_EQ(scm.calls[2].argc, 0u);
      EXPECT_FALSE(scm.calls[2].argv);
      EXPECT_EQ(scm.calls[3].name, L"service");  // the service first, then the manager
      EXPECT_EQ(scm.calls[4].name, L"manager");
    }
  }
}

// --- The power-off. ---

struct PowerOff {
  BOOL result = FALSE;
  std::vector<DWORD> tokenAccess;  // what each OpenProcessToken asked for
  std::vector<std::pair<UINT, DWORD>> calls;
  bool privilegeEnabledAtCall = false;
  bool closePendingAtCall = true;
  HWND hwnd = nullptr;
};
PowerOff* g_pPowerOff = nullptr;

bool ShutdownPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID luid;
  LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &luid);
  PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {{luid, 0}}};
  BOOL enabled = FALSE;
  PrivilegeCheck(token, &set, &enabled);
  CloseHandle(token);
  return enabled != FALSE;
}

void SetShutdownPrivilege(bool enable) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, enable ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0u}}};
  LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  CloseHandle(token);
}

ImportPatch* g_pTokenPatch = nullptr;
BOOL WINAPI RecordOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  g_pPowerOff->tokenAccess.push_back(access);
  return g_pTokenPatch->Original<BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE)>()(process, access, token);
}

BOOL WINAPI RecordExitWindowsEx(UINT flags, DWORD reason) {
  g_pPowerOff->calls.push_back({flags, reason});
  g_pPowerOff->privilegeEnabledAtCall = ShutdownPrivilegeEnabled();
  MSG msg;
  g_pPowerOff->closePendingAtCall =
      PeekMessageW(&msg, g_pPowerOff->hwnd, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != FALSE;
  return g_pPowerOff->result;
}

TEST(PowerOffTest, EnablesThePrivilegeAsksForAPowerOffThenClosesTheWindow) {
  for (BOOL accepted : {TRUE, FALSE}) {
    SCOPED_TRACE(accepted ? "accepted" : "refused");
    PowerOff record;
    record.result = accepted;
    g_pPowerOff = &record;
    ImportPatch patch("user32.dll", "ExitWindowsEx", reinterpret_cast<void*>(RecordExitWindowsEx));
    ImportPatch tokenPatch("advapi32.dll", "OpenProcessToken",
                           reinterpret_cast<void*>(RecordOpenProcessToken));
    g_pTokenPatch = &tokenPatch;
    ASSERT_TRUE(patch.Active());
    ASSERT_TRUE(tokenPatch.Active());
    record.hwnd =
        CreateWindowExW(0, L"STATIC", L"dialog", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(record.hwnd, nullptr);
    SetShutdownPrivilege(false);
    ASSERT_FALSE(ShutdownPrivilegeEnabled());

    record.tokenAccess.clear();
    PowerOffMachine(record.hwnd);

    // Only the rights that enabling one privilege needs.
    ASSERT_FALSE(record.tokenAccess.empty());  // (the test's own check of the privilege comes after)
    EXPECT_EQ(record.tokenAccess.front(), static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
    ASSERT_EQ(record.calls.size(), 1u);
    EXPECT_EQ(record.calls[0].first, static_cast<UINT>(EWX_POWEROFF));  // no force flag
    EXPECT_EQ(record.calls[0].second, 0u);
    EXPECT_TRUE(record.privilegeEnabledAtCall);
    EXPECT_FALSE(record.closePendingAtCall);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, record.hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&msg, record.hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    DestroyWindow(record.hwnd);
    g_pPowerOff = nullptr;
  }
}

}  // namespace
