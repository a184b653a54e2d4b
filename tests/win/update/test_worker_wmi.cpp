// The update worker with the real provider client, against Wine's own WMI
// service, which has no ROOT\Intel\Thunderbolt namespace.
#include <gtest/gtest.h>

#include <wbemcli.h>

#include <string>
#include <vector>

#include "app/status.h"
#include "controller/tbt_wmi.h"
#include "tests/win/controller/iat_patch.h"
#include "tests/win/update/recording_machine.h"
#include "update/update_worker.h"

namespace {

std::vector<std::wstring> g_fileOpens;
ImportPatch* g_pCreatePatch = nullptr;

HANDLE WINAPI WatchCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
  using Fn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  if (path) g_fileOpens.push_back(path);
  return g_pCreatePatch->Original<Fn>()(path, access, share, sa, disposition, attributes, templateFile);
}

TEST(WorkerWithWmiTest, WinesWmiHasNoThunderboltNamespaceSoTheClientCannotConnect) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  // The platform's answer, as the client meets it.
  IWbemLocator* pLocator = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                             reinterpret_cast<void**>(&pLocator)),
            S_OK);
  BSTR ns = SysAllocString(L"ROOT\\Intel\\Thunderbolt");
  IWbemServices* pServices = nullptr;
  EXPECT_EQ(pLocator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &pServices),
            static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE));
  EXPECT_EQ(pServices, nullptr);
  SysFreeString(ns);
  pLocator->Release();

  EXPECT_FALSE(TbtConnect());
  EXPECT_FALSE(TbtFindController());
  uint32_t version = 0x77;
  EXPECT_EQ(TbtGetCurrentNvmVersion(version), ERR_PROVIDER_FAILED);
  EXPECT_EQ(version, 0x77u);
  CoUninitialize();
}

TEST(WorkerWithWmiTest, WorkerEndsWithProviderFailedWithoutOpeningTheImage) {
  // Stays in place for the rest of the process (see worker_scenario.cpp).
  g_pCreatePatch = new ImportPatch("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(WatchCreateFileW));
  ASSERT_TRUE(g_pCreatePatch->Active());
  WorkerEvents().clear();
  SetUpdateSleep(RecordingSleep);

  UpdateState state;
  state.m_dwStatus = 0xDEADBEEF;
  HANDLE hThread = CreateThread(nullptr, 0, UpdateWorker, &state, 0, nullptr);
  ASSERT_NE(hThread, nullptr);
  ASSERT_EQ(WaitForSingleObject(hThread, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeThread(hThread, &exitCode);
  CloseHandle(hThread);
  SetUpdateSleep(nullptr);

  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(state.m_dwStatus, ERR_PROVIDER_FAILED);
  std::vector<std::string> names;
  for (const auto& e : WorkerEvents()) {
    names.push_back(e.what);
    EXPECT_TRUE(e.comReady) << e.what;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"acpi 0x00060057 1", "service ThunderboltService", "sleep 10000",
                                             "sleep 10000", "acpi 0x00060057 0"}));
  for (const auto& path : g_fileOpens) {
    std::wstring lower = path;
    for (auto& c : lower) c = towlower(c);
    EXPECT_EQ(lower.find(L"\\data\\"), std::wstring::npos)
        << "opened " << std::string(path.begin(), path.end());
  }
}

}  // namespace
