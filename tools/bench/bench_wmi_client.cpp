// What the provider client itself costs under the platform's OLE automation:
// every method call fetches the class and the signature and spawns fresh
// in-parameters, and arrays travel element by element. Runs the real client
// against the test suite's fake provider objects (whose own Put and record
// keeping copy the array twice more) and prints the time per call.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "controller/tbt_wmi.h"
#include "tests/win/controller/fake_wbem.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Call>
double MedianMs(int runs, Call call) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    call();
    QueryPerformanceCounter(&end);
    times.push_back(Milliseconds(start, end));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  std::printf("call                         size       ms per call (median)\n");
  {
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"PCI\\VEN_8086&DEV_15D9\\0"));
    provider.answers[L"ReadFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(0)},
                                             {L"data", OwnedVariant::Bytes({1, 2, 3, 4})}};
    provider.answers[L"GetCurrentNvmVersion"].out = {{L"ReturnValue", OwnedVariant::I4(0)},
                                                     {L"NvmVersion", OwnedVariant::I4(0x30)}};
    TbtConnectWithServices(&provider.services);
    uint8_t word[4];
    uint32_t version = 0;
    std::printf("ReadFirmware             %8u  %10.4f\n", 4u,
                MedianMs(2000, [&] { TbtReadFirmware(0x100, 4, word); }));
    std::printf("GetCurrentNvmVersion     %8s  %10.4f\n", "-",
                MedianMs(2000, [&] { TbtGetCurrentNvmVersion(version); }));
    TbtConnectWithServices(nullptr);
  }
  for (size_t size : {size_t{64} * 1024, size_t{256} * 1024, size_t{1024} * 1024, size_t{4096} * 1024}) {
    FakeProvider provider;
    provider.ListController(OwnedVariant::String(L"C"));
    provider.answers[L"UpdateFirmware"].out = {{L"ReturnValue", OwnedVariant::I4(0)}};
    TbtConnectWithServices(&provider.services);
    std::vector<uint8_t> image(size, 0x5A);
    std::printf("UpdateFirmware           %8zu  %10.3f\n", size,
                MedianMs(5, [&] { TbtUpdateFirmware(image.data(), static_cast<int32_t>(image.size())); }));
    TbtConnectWithServices(nullptr);
  }
  CoUninitialize();
  return 0;
}
