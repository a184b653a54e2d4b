// Drives each stand-in the way the product does, from outside the product:
//   tbtsim_probe wmi [namespace] [image-to-send]   WMI locator, query, three methods
//   tbtsim_probe acpi <state>                      DEVS request for device 0x00060057
//   tbtsim_probe service [name]                    start request, wait for RUNNING
// Prints one "key=value" line per fact and exits 0 when every step worked.
#include <windows.h>
#include <wbemcli.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kIoctlCall = 0x0022240C;
constexpr DWORD kMethodDevs = 0x53564544;
constexpr DWORD kDeviceId = 0x00060057;

// Releases a COM interface when it leaves scope.
template <typename T>
struct ComRef {
  T* p = nullptr;
  ~ComRef() {
    if (p) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

struct Bstr {
  BSTR b;
  explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(b); }
};

std::wstring DoubleBackslashes(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    out.push_back(c);
    if (c == L'\\') out.push_back(L'\\');
  }
  return out;
}

void PutInt(IWbemClassObject* in, const wchar_t* name, LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  in->Put(name, 0, &v, 0);
  VariantClear(&v);
}

// One method call as the product makes it; fills `out` and returns ReturnValue
// (or -1 when the call did not go through).
long CallMethod(IWbemServices* services, const std::wstring& path, const wchar_t* method,
                const std::vector<std::pair<const wchar_t*, LONG>>& ints, const std::vector<uint8_t>* buffer,
                ComRef<IWbemClassObject>& out) {
  ComRef<IWbemClassObject> cls, inSig, in;
  Bstr className(L"SdkTbtController");
  if (FAILED(services->GetObject(className.b, 0, nullptr, cls.out(), nullptr))) return -1;
  bool hasIn = !ints.empty() || buffer;
  if (FAILED(cls->GetMethod(method, 0, hasIn ? inSig.out() : nullptr, nullptr))) return -1;
  if (hasIn) {
    if (!inSig.p || FAILED(inSig->SpawnInstance(0, in.out()))) return -1;
    for (const auto& [name, value] : ints) PutInt(in.p, name, value);
    if (buffer) {
      SAFEARRAYBOUND bound{static_cast<ULONG>(buffer->size()), 0};
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_ARRAY | VT_UI1;
      V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 1, &bound);
      for (LONG i = 0; i < static_cast<LONG>(buffer->size()); ++i) {
        uint8_t byte = (*buffer)[i];
        SafeArrayPutElement(V_ARRAY(&v), &i, &byte);
      }
      in->Put(L"Buffer", 0, &v, 0);
      VariantClear(&v);
    }
  }
  Bstr instancePath(path.c_str()), methodName(method);
  HRESULT hr = services->ExecMethod(instancePath.b, methodName.b, 0, nullptr, in.p, out.out(), nullptr);
  if (FAILED(hr) || !out.p) {
    printf("%ls.exec=0x%08lX\n", method, static_cast<unsigned long>(hr));
    return -1;
  }
  VARIANT rv;
  VariantInit(&rv);
  if (FAILED(out->Get(L"ReturnValue", 0, &rv, nullptr, nullptr))) return -1;
  long result = V_I4(&rv);
  VariantClear(&rv);
  return result;
}

int ProbeWmi(const wchar_t* ns, const wchar_t* imagePath) {
  CoInitialize(nullptr);
  int failures = 0;
  {
    ComRef<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(locator.out()));
    printf("locator=0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;
    ComRef<IWbemServices> services;
    Bstr nsText(ns);
    hr = locator->ConnectServer(nsText.b, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out());
    printf("connect=0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    ComRef<IEnumWbemClassObject> list;
    Bstr wql(L"WQL"), query(L"select * from SdkTbtController");
    hr = services->ExecQuery(wql.b, query.b, WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                             list.out());
    printf("query=0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;
    ComRef<IWbemClassObject> instance;
    ULONG returned = 0;
    list->Next(WBEM_INFINITE, 1, instance.out(), &returned);
    printf("instances=%lu\n", static_cast<unsigned long>(returned));
    if (returned == 0) return 1;
    VARIANT id;
    VariantInit(&id);
    instance->Get(L"ControllerId", 0, &id, nullptr, nullptr);
    if (V_VT(&id) != VT_BSTR) return 1;
    std::wstring path = L"SdkTbtController.ControllerId=\"" + DoubleBackslashes(V_BSTR(&id)) + L"\"";
    printf("controller=%ls\n", V_BSTR(&id));
    VariantClear(&id);

    ComRef<IWbemClassObject> versionOut;
    long rv = CallMethod(services.p, path, L"GetCurrentNvmVersion", {}, nullptr, versionOut);
    VARIANT version;
    VariantInit(&version);
    if (versionOut.p) versionOut->Get(L"NvmVersion", 0, &version, nullptr, nullptr);
    printf("version.return=%ld version=0x%lX\n", rv, V_VT(&version) == VT_I4 ? V_I4(&version) : -1L);
    failures += rv != 0;

    ComRef<IWbemClassObject> readOut;
    rv = CallMethod(services.p, path, L"ReadFirmware", {{L"offset", 4}, {L"length", 4}}, nullptr, readOut);
    printf("read.return=%ld data=", rv);
    VARIANT data;
    VariantInit(&data);
    if (readOut.p && SUCCEEDED(readOut->Get(L"data", 0, &data, nullptr, nullptr)) &&
        V_VT(&data) == (VT_ARRAY | VT_UI1)) {
      for (LONG i = 0; i < 4; ++i) {
        uint8_t byte = 0;
        if (SUCCEEDED(SafeArrayGetElement(V_ARRAY(&data), &i, &byte))) printf("%02X", byte);
      }
    }
    VariantClear(&data);
    printf("\n");
    failures += rv != 0;

    if (imagePath) {
      std::vector<uint8_t> image;
      if (FILE* f = _wfopen(imagePath, L"rb")) {
        uint8_t chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) image.insert(image.end(), chunk, chunk + n);
        fclose(f);
      }
      ComRef<IWbemClassObject> updateOut;
      rv = CallMethod(services.p, path, L"UpdateFirmware", {{L"BufferSize", static_cast<LONG>(image.size())}},
                      &image, updateOut);
      printf("update.return=%ld bytes=%u\n", rv, static_cast<unsigned>(image.size()));
      failures += rv != 0;
    }
  }
  CoUninitialize();
  return failures ? 1 : 0;
}

int ProbeAcpi(DWORD state) {
  HANDLE device = CreateFileW(L"\\\\.\\QMXACPI", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    printf("open=error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  printf("open=ok\n");
  DWORD request[4] = {kMethodDevs, 8, kDeviceId, state};
  uint8_t reply[1024] = {0xAA, 0xAA, 0xAA, 0xAA};
  DWORD got = 0;
  BOOL ok = DeviceIoControl(device, kIoctlCall, request, sizeof request, reply, sizeof reply, &got, nullptr);
  printf("devs=%s bytes=%lu reply=%02X%02X%02X%02X\n", ok ? "ok" : "error", static_cast<unsigned long>(got),
         reply[0], reply[1], reply[2], reply[3]);
  CloseHandle(device);
  return ok && got == 4 ? 0 : 1;
}

int ProbeService(const wchar_t* name) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    printf("manager=error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
  if (!service) {
    printf("service=error %lu\n", static_cast<unsigned long>(GetLastError()));
    CloseServiceHandle(manager);
    return 1;
  }
  BOOL started = StartServiceW(service, 0, nullptr);
  printf("start=%s\n", started ? "ok" : std::to_string(GetLastError()).c_str());
  SERVICE_STATUS status{};
  for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING;
       ++i) {
    Sleep(50);
  }
  printf("state=%lu\n", static_cast<unsigned long>(status.dwCurrentState));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status.dwCurrentState == SERVICE_RUNNING ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::wstring what = argc > 1 ? argv[1] : L"";
  if (what == L"wmi") {
    return ProbeWmi(argc > 2 ? argv[2] : L"ROOT\\Intel\\Thunderbolt", argc > 3 ? argv[3] : nullptr);
  }
  if (what == L"acpi" && argc > 2) return ProbeAcpi(wcstoul(argv[2], nullptr, 0));
  if (what == L"service") return ProbeService(argc > 2 ? argv[2] : L"ThunderboltService");
  fprintf(stderr, "usage: tbtsim_probe wmi [namespace] [image] | acpi <state> | service [name]\n");
  return 2;
}
