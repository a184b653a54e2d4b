// The simulated provider through real COM and OLE automation: the DLL is loaded
// as COM would load it (DllGetClassObject), and every call goes through the
// WMI interfaces with Wine's VARIANT and SAFEARRAY functions. Settings and
// records live in a temporary folder named by TBTSIM_DIR. The stand-in
// service's writer runs on a thread of the test, on a pipe of its own.
#include <windows.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tools/standins/provider/object_path.h"
#include "tools/standins/service/sim_writer.h"

namespace {

constexpr wchar_t kId[] = L"TBT\\NHI_TEST\\0";
constexpr wchar_t kEscapedPath[] = L"SdkTbtController.ControllerId=\"TBT\\\\NHI_TEST\\\\0\"";

template <typename T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  ~Ref() { reset(); }
  void reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** out() {
    reset();
    return &p;
  }
  T* operator->() const { return p; }
};

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& text)
      : b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(b); }
};

// HRESULTs and WBEM codes compared as the same unsigned 32-bit values.
template <typename T>
unsigned long U(T value) {
  return static_cast<unsigned long>(value);
}

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

class ProviderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    module_ = LoadLibraryW(L"tbtsim_provider.dll");
    ASSERT_NE(module_, nullptr) << GetLastError();
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);

    pipe_ = L"\\\\.\\pipe\\tbtsim_writer_test_" + std::to_wstring(GetCurrentProcessId());
    SetEnvironmentVariableW(L"TBTSIM_WRITER_PIPE", pipe_.c_str());
    writerPipe_ = SimWriterOpen(pipe_);
    ASSERT_NE(writerPipe_, INVALID_HANDLE_VALUE) << GetLastError();
    writerStop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writer_ = CreateThread(nullptr, 0, WriterMain, nullptr, 0, nullptr);
    ASSERT_NE(writer_, nullptr);
  }

  static DWORD WINAPI WriterMain(void*) {
    SimWriterServe(writerPipe_, writerStop_);
    return 0;
  }

  static void TearDownTestSuite() {
    if (writer_) {
      SetEvent(writerStop_);
      WaitForSingleObject(writer_, INFINITE);
      CloseHandle(writer_);
    }
    if (writerPipe_ != INVALID_HANDLE_VALUE) CloseHandle(writerPipe_);
  }

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"tbtsim_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter_++);
    CreateDirectoryW(dir_.c_str(), nullptr);
    SetEnvironmentVariableW(L"TBTSIM_DIR", dir_.c_str());
    nvm_.resize(8192);
    for (size_t i = 0; i < nvm_.size(); ++i) nvm_[i] = static_cast<uint8_t>(i * 7 + 3);
    WriteBytes(L"nvm.bin", nvm_);
    Configure(L"");
  }

  void TearDown() override {
    services_.reset();
    for (const wchar_t* name :
         {L"provider.ini", L"provider.log", L"nvm.bin", L"received.bin", L"hold.txt", L"hold.log"}) {
      DeleteFileW((dir_ + L"\\" + name).c_str());
    }
    RemoveDirectoryW(dir_.c_str());
  }

  void WriteBytes(const wchar_t* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(std::filesystem::path(dir_ + L"\\" + name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<uint8_t> ReadBytes(const wchar_t* name) {
    std::ifstream in(std::filesystem::path(dir_ + L"\\" + name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  std::string Text(const wchar_t* name) {
    std::vector<uint8_t> bytes = ReadBytes(name);
    return std::string(bytes.begin(), bytes.end());
  }

  std::string Record() { return Text(L"provider.log"); }

  // Writes provider.ini: the test's controller id and version plus `extra` lines.
  void Configure(const std::wstring& extra) {
    std::wstring text =
        L"[Provider]\r\nControllerId=" + std::wstring(kId) + L"\r\nNvmVersion=0x2A\r\n" + extra;
    std::ofstream(std::filesystem::path(dir_ + L"\\provider.ini")) << Narrow(text);
  }

  HRESULT Locator(Ref<IWbemLocator>& locator) {
    Ref<IClassFactory> factory;
    HRESULT hr =
        getClassObject_(CLSID_WbemLocator, IID_IClassFactory, reinterpret_cast<void**>(factory.out()));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(locator.out()));
  }

  HRESULT Connect(const std::wstring& ns = L"ROOT\\Intel\\Thunderbolt") {
    Ref<IWbemLocator> locator;
    HRESULT hr = Locator(locator);
    if (FAILED(hr)) return hr;
    Bstr text(ns);
    return locator->ConnectServer(text.b, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services_.out());
  }

  // A fresh in-parameter object for `method`, as the product's client makes it.
  HRESULT InParams(const wchar_t* method, Ref<IWbemClassObject>& in) {
    Ref<IWbemClassObject> cls, signature;
    Bstr name(L"SdkTbtController");
    HRESULT hr = services_->GetObject(name.b, 0, nullptr, cls.out(), nullptr);
    if (FAILED(hr)) return hr;
    hr = cls->GetMethod(method, 0, signature.out(), nullptr);
    if (FAILED(hr)) return hr;
    if (!signature.p) return E_POINTER;
    return signature->SpawnInstance(0, in.out());
  }

  static HRESULT PutInt(IWbemClassObject* in, const wchar_t* name, LONG value, VARTYPE vt = VT_I4) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    V_I4(&v) = value;
    return in->Put(name, 0, &v, 0);
  }

  static HRESULT PutBytes(IWbemClassObject* in, const std::vector<uint8_t>& bytes, LONG lower = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lower};
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 1, &bound);
    for (size_t i = 0; i < bytes.size(); ++i) {
      LONG index = lower + static_cast<LONG>(i);
      uint8_t byte = bytes[i];
      SafeArrayPutElement(V_ARRAY(&v), &index, &byte);
    }
    HRESULT hr = in->Put(L"Buffer", 0, &v, 0);
    VariantClear(&v);
    return hr;
  }

  HRESULT Exec(const std::wstring& path, const wchar_t* method, IWbemClassObject* in,
               Ref<IWbemClassObject>& out) {
    Bstr p(path), m(method);
    return services_->ExecMethod(p.b, m.b, 0, nullptr, in, out.out(), nullptr);
  }

  static LONG GetInt(IWbemClassObject* out, const wchar_t* name) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(U(out->Get(name, 0, &v, nullptr, nullptr)), U(WBEM_S_NO_ERROR)) << Narrow(name);
    EXPECT_EQ(V_VT(&v), VT_I4) << Narrow(name);
    LONG value = V_I4(&v);
    VariantClear(&v);
    return value;
  }

  // ReadFirmware through the whole client sequence; returns ReturnValue and the data.
  LONG Read(LONG offset, LONG length, std::vector<uint8_t>& data) {
    Ref<IWbemClassObject> in, out;
    EXPECT_EQ(U(InParams(L"ReadFirmware", in)), U(WBEM_S_NO_ERROR));
    PutInt(in.p, L"offset", offset);
    PutInt(in.p, L"length", length);
    EXPECT_EQ(U(Exec(kEscapedPath, L"ReadFirmware", in.p, out)), U(WBEM_S_NO_ERROR));
    if (!out.p) return -1;
    data.clear();
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(out->Get(L"data", 0, &v, nullptr, nullptr)) && V_VT(&v) == (VT_ARRAY | VT_UI1)) {
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(V_ARRAY(&v), 1, &lower);
      SafeArrayGetUBound(V_ARRAY(&v), 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        uint8_t byte = 0;
        SafeArrayGetElement(V_ARRAY(&v), &i, &byte);
        data.push_back(byte);
      }
    }
    VariantClear(&v);
    return GetInt(out.p, L"ReturnValue");
  }

  LONG Update(const std::vector<uint8_t>& bytes, LONG size) {
    Ref<IWbemClassObject> in, out;
    EXPECT_EQ(U(InParams(L"UpdateFirmware", in)), U(WBEM_S_NO_ERROR));
    PutInt(in.p, L"BufferSize", size);
    PutBytes(in.p, bytes);
    EXPECT_EQ(U(Exec(kEscapedPath, L"UpdateFirmware", in.p, out)), U(WBEM_S_NO_ERROR));
    return out.p ? GetInt(out.p, L"ReturnValue") : -1;
  }

  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
  }

  static inline HMODULE module_ = nullptr;
  static inline HRESULT(WINAPI* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
  static inline HRESULT(WINAPI* canUnloadNow_)() = nullptr;
  static inline int counter_ = 0;
  static inline std::wstring pipe_;
  static inline HANDLE writerPipe_ = INVALID_HANDLE_VALUE;
  static inline HANDLE writerStop_ = nullptr;
  static inline HANDLE writer_ = nullptr;
  std::wstring dir_;
  std::vector<uint8_t> nvm_;
  Ref<IWbemServices> services_;
};

TEST(ObjectPathTest, ParsesTheFormsWmiAccepts) {
  struct Case {
    const wchar_t* text;
    bool ok;
    const wchar_t* cls;
    const wchar_t* value;
  } cases[] = {
      {L"SdkTbtController", true, L"SdkTbtController", L""},
      {L"SdkTbtController.ControllerId=\"A\\\\B\"", true, L"SdkTbtController", L"A\\B"},
      {L"SdkTbtController.ControllerId=\"say \\\"hi\\\"\"", true, L"SdkTbtController", L"say \"hi\""},
      {L"\\\\.\\ROOT\\Intel\\Thunderbolt:SdkTbtController.ControllerId=\"x\"", true, L"SdkTbtController",
       L"x"},
      {L"SdkTbtController.ControllerId=\"\"", true, L"SdkTbtController", L""},
      // A single backslash before an ordinary character is not an escape.
      {L"SdkTbtController.ControllerId=\"A\\B\"", false, L"", L""},
      {L"SdkTbtController.ControllerId=\"open", false, L"", L""},
      {L"SdkTbtController.ControllerId=\"x\"tail", false, L"", L""},
      {L"SdkTbtController.ControllerId=x", false, L"", L""},
      {L"SdkTbtController.=\"x\"", false, L"", L""},
      {L"", false, L"", L""},
  };
  for (const Case& c : cases) {
    SimObjectPath path;
    EXPECT_EQ(SimParseObjectPath(c.text, path), c.ok) << Narrow(c.text);
    if (c.ok) {
      EXPECT_EQ(path.className, c.cls) << Narrow(c.text);
      EXPECT_EQ(path.keyValue, c.value) << Narrow(c.text);
    }
  }
}

TEST_F(ProviderTest, ConnectsOnlyToTheThunderboltNamespace) {
  struct Case {
    const wchar_t* ns;
    unsigned long hr;
  } cases[] = {
      {L"ROOT\\Intel\\Thunderbolt", WBEM_S_NO_ERROR},
      {L"root\\INTEL\\thunderbolt", WBEM_S_NO_ERROR},
      {L"\\\\.\\ROOT\\Intel\\Thunderbolt", WBEM_S_NO_ERROR},
      {L"ROOT\\CIMV2", WBEM_E_INVALID_NAMESPACE},
      {L"ROOT\\Intel", WBEM_E_INVALID_NAMESPACE},
      {L"", WBEM_E_INVALID_NAMESPACE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U(Connect(c.ns)), U(c.hr)) << Narrow(c.ns);
    EXPECT_EQ(services_.p != nullptr, SUCCEEDED(static_cast<HRESULT>(c.hr))) << Narrow(c.ns);
  }
  EXPECT_EQ(Count(Record(), "ConnectServer"), std::size(cases));
}

TEST_F(ProviderTest, ListsTheControllerWithItsBackslashedId) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  Ref<IEnumWbemClassObject> list;
  Bstr wql(L"WQL"), query(L"select * from SdkTbtController");
  ASSERT_EQ(U(services_->ExecQuery(wql.b, query.b, 0x30, nullptr, list.out())), U(WBEM_S_NO_ERROR));
  IWbemClassObject* objects[2] = {};
  ULONG returned = 0;
  EXPECT_EQ(U(list->Next(WBEM_INFINITE, 2, objects, &returned)), U(WBEM_S_FALSE));
  ASSERT_EQ(returned, 1u);
  VARIANT id;
  VariantInit(&id);
  ASSERT_EQ(U(objects[0]->Get(L"ControllerId", 0, &id, nullptr, nullptr)), U(WBEM_S_NO_ERROR));
  ASSERT_EQ(V_VT(&id), VT_BSTR);
  EXPECT_STREQ(V_BSTR(&id), kId);
  VariantClear(&id);
  objects[0]->Release();

  Bstr other(L"select * from Win32_Process"), wrong(L"SQL");
  EXPECT_EQ(U(services_->ExecQuery(wql.b, other.b, 0x30, nullptr, list.out())), U(WBEM_E_INVALID_CLASS));
  EXPECT_EQ(U(services_->ExecQuery(wrong.b, query.b, 0x30, nullptr, list.out())),
            U(WBEM_E_INVALID_QUERY_TYPE));
}

TEST_F(ProviderTest, MethodsAnswerOnlyTheEscapedInstancePath) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  struct Case {
    std::wstring path;
    unsigned long hr;
  } cases[] = {
      {kEscapedPath, WBEM_S_NO_ERROR},
      {L"SdkTbtController.ControllerId=\"TBT\\NHI_TEST\\0\"", WBEM_E_INVALID_OBJECT_PATH},  // not escaped
      {L"SdkTbtController.ControllerId=\"TBT\\\\OTHER\\\\0\"", WBEM_E_NOT_FOUND},
      {L"SdkTbtController", WBEM_E_INVALID_METHOD},
      {L"Win32_Process.Handle=\"1\"", WBEM_E_INVALID_CLASS},
  };
  for (const Case& c : cases) {
    Ref<IWbemClassObject> out;
    EXPECT_EQ(U(Exec(c.path, L"GetCurrentNvmVersion", nullptr, out)), U(c.hr)) << Narrow(c.path);
    EXPECT_EQ(out.p != nullptr, SUCCEEDED(static_cast<HRESULT>(c.hr))) << Narrow(c.path);
    if (out.p) {
      EXPECT_EQ(GetInt(out.p, L"ReturnValue"), 0);
      EXPECT_EQ(GetInt(out.p, L"NvmVersion"), 0x2A);
    }
  }
}

TEST_F(ProviderTest, SignaturesMatchTheMethods) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  Ref<IWbemClassObject> cls, in;
  Bstr name(L"SdkTbtController");
  ASSERT_EQ(U(services_->GetObject(name.b, 0, nullptr, cls.out(), nullptr)), U(WBEM_S_NO_ERROR));
  // A method without in-parameters has no in-signature.
  EXPECT_EQ(U(cls->GetMethod(L"GetCurrentNvmVersion", 0, in.out(), nullptr)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(in.p, nullptr);
  EXPECT_EQ(U(cls->GetMethod(L"FlashEverything", 0, in.out(), nullptr)), U(WBEM_E_NOT_FOUND));

  Ref<IWbemClassObject> read;
  ASSERT_EQ(U(InParams(L"ReadFirmware", read)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(U(PutInt(read.p, L"offset", 4)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(U(PutInt(read.p, L"length", 4, VT_UI4)), U(WBEM_E_TYPE_MISMATCH));
  EXPECT_EQ(U(PutInt(read.p, L"count", 4)), U(WBEM_E_NOT_FOUND));
  // What one caller put never shows in the next caller's object.
  Ref<IWbemClassObject> fresh;
  ASSERT_EQ(U(InParams(L"ReadFirmware", fresh)), U(WBEM_S_NO_ERROR));
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(U(fresh->Get(L"offset", 0, &v, nullptr, nullptr)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(V_VT(&v), VT_NULL);
}

TEST_F(ProviderTest, ReadFirmwareServesTheDumpAndRefusesOutOfRange) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  std::vector<uint8_t> data;
  EXPECT_EQ(Read(0x100, 4, data), 0);
  EXPECT_EQ(data, std::vector<uint8_t>(nvm_.begin() + 0x100, nvm_.begin() + 0x104));
  EXPECT_EQ(Read(8188, 4, data), 0);
  EXPECT_EQ(data.size(), 4u);
  struct Case {
    LONG offset, length;
  } refused[] = {{8190, 4}, {-4, 4}, {0, 0}, {0, 5000}, {0x7FFFFFFC, 8}};
  for (const Case& c : refused) {
    EXPECT_EQ(Read(c.offset, c.length, data), 87) << c.offset << "+" << c.length;
    EXPECT_TRUE(data.empty());
  }
  // A parameter that never arrived makes the call itself fail.
  Ref<IWbemClassObject> in, out;
  ASSERT_EQ(U(InParams(L"ReadFirmware", in)), U(WBEM_S_NO_ERROR));
  PutInt(in.p, L"offset", 0);
  EXPECT_EQ(U(Exec(kEscapedPath, L"ReadFirmware", in.p, out)), U(WBEM_E_INVALID_METHOD_PARAMETERS));
}

TEST_F(ProviderTest, UpdateFirmwareRecordsExactlyTheBytesReceived) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  std::vector<uint8_t> image(3000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(255 - i % 251);
  EXPECT_EQ(Update(image, 3000), 0);
  EXPECT_EQ(ReadBytes(L"received.bin"), image);
  // The writer wrote it, begun and ended, before the call answered.
  std::string record = Record();
  const size_t begin = record.find("WRITE begin bytes=3000 "),
               end = record.find("WRITE end bytes=3000 result=0");
  EXPECT_NE(begin, std::string::npos) << record;
  EXPECT_NE(end, std::string::npos) << record;
  EXPECT_LT(begin, end);
  EXPECT_LT(end, record.find("ExecMethod method=UpdateFirmware"));

  // A size that disagrees with the array is refused, but what came is still recorded.
  std::vector<uint8_t> shorter(image.begin(), image.begin() + 100);
  EXPECT_EQ(Update(shorter, 3000), 87);
  EXPECT_EQ(ReadBytes(L"received.bin"), shorter);
  EXPECT_EQ(Update({}, 0), 87);
  EXPECT_EQ(Count(Record(), "WRITE begin"), 1u);  // refused requests never reach the writer
}

// The write runs to its end whatever becomes of the call: a call that fails
// or loses its answer, a caller that hangs up. Without the service nothing is written.
TEST_F(ProviderTest, TheServiceWritesWhateverBecomesOfTheCall) {
  constexpr LONG kNoOut = -1, kNoReturnValue = -2;
  const std::vector<uint8_t> image(512, 0xC3);
  const struct {
    const wchar_t* ini;
    const wchar_t* pipe;  // the writer's pipe (null: the test's writer)
    unsigned long hr;     // what ExecMethod returns
    LONG returnValue;
    bool written;
    const char* recorded;
  } cases[] = {
      {L"", nullptr, WBEM_S_NO_ERROR, 0, true, "service=done written=0 return=0"},
      {L"UpdateCallFault=exec\r\n", nullptr, WBEM_E_FAILED, kNoOut, true, "fault=exec"},
      {L"UpdateCallFault=noreturn\r\n", nullptr, WBEM_S_NO_ERROR, kNoReturnValue, true, "fault=noreturn"},
      {L"", L"\\\\.\\pipe\\tbtsim_nobody", WBEM_S_NO_ERROR, 1062, false,
       "service=\"the service's writer cannot be reached (error 2)\" return=1062"},
  };
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.ini) + (c.pipe ? Narrow(c.pipe) : ""));
    Configure(c.ini);
    ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
    DeleteFileW((dir_ + L"\\received.bin").c_str());
    SetEnvironmentVariableW(L"TBTSIM_WRITER_PIPE", c.pipe ? c.pipe : pipe_.c_str());
    Ref<IWbemClassObject> in, out;
    ASSERT_EQ(U(InParams(L"UpdateFirmware", in)), U(WBEM_S_NO_ERROR));
    PutInt(in.p, L"BufferSize", static_cast<LONG>(image.size()));
    PutBytes(in.p, image);
    EXPECT_EQ(U(Exec(kEscapedPath, L"UpdateFirmware", in.p, out)), c.hr);
    SetEnvironmentVariableW(L"TBTSIM_WRITER_PIPE", pipe_.c_str());
    EXPECT_EQ(out.p == nullptr, c.returnValue == kNoOut);
    VARIANT v;
    VariantInit(&v);
    if (c.returnValue == kNoReturnValue && out.p) {
      EXPECT_EQ(U(out->Get(L"ReturnValue", 0, &v, nullptr, nullptr)), U(WBEM_E_NOT_FOUND));
    } else if (c.returnValue != kNoOut && out.p) {
      EXPECT_EQ(GetInt(out.p, L"ReturnValue"), c.returnValue);
    }
    EXPECT_EQ(ReadBytes(L"received.bin"), c.written ? image : std::vector<uint8_t>{});
    EXPECT_NE(Record().find(c.recorded), std::string::npos) << Record();
  }

  // A caller that hangs up as soon as the image is handed over.
  DeleteFileW((dir_ + L"\\received.bin").c_str());
  const size_t writes = Count(Record(), "WRITE end bytes=512 result=0");
  HANDLE pipe =
      CreateFileW(pipe_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  const uint32_t header[4] = {kSimWriterMagic, static_cast<uint32_t>(dir_.size()), 512, 300};
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(pipe, header, sizeof header, &done, nullptr));
  EXPECT_TRUE(
      WriteFile(pipe, dir_.data(), static_cast<DWORD>(dir_.size() * sizeof(wchar_t)), &done, nullptr));
  EXPECT_TRUE(WriteFile(pipe, image.data(), static_cast<DWORD>(image.size()), &done, nullptr));
  CloseHandle(pipe);
  for (int i = 0; i < 100 && Count(Record(), "WRITE end bytes=512 result=0") == writes; ++i) Sleep(50);
  EXPECT_EQ(ReadBytes(L"received.bin"), image);
  EXPECT_EQ(Count(Record(), "WRITE end bytes=512 result=0"), writes + 1);
  // and the writer serves the next caller.
  EXPECT_EQ(Update(image, 512), 0);
}

TEST_F(ProviderTest, ConfiguredFailuresLatencyAndMissingController) {
  Configure(L"FailUpdateFirmware=5\r\nFailGetCurrentNvmVersion=0x80\r\nLatencyMs=150\r\n");
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  std::vector<uint8_t> image(64, 0x5A);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Update(image, 64), 5);
  EXPECT_GE(GetTickCount64() - start, 150u);
  EXPECT_EQ(ReadBytes(L"received.bin"), image);
  Ref<IWbemClassObject> out;
  ASSERT_EQ(U(Exec(kEscapedPath, L"GetCurrentNvmVersion", nullptr, out)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(GetInt(out.p, L"ReturnValue"), 0x80);
  EXPECT_EQ(GetInt(out.p, L"NvmVersion"), 0x2A);  // the version still comes with the failure

  Configure(L"Controllers=0\r\n");
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  Ref<IEnumWbemClassObject> list;
  Bstr wql(L"WQL"), query(L"select * from SdkTbtController");
  ASSERT_EQ(U(services_->ExecQuery(wql.b, query.b, 0x30, nullptr, list.out())), U(WBEM_S_NO_ERROR));
  IWbemClassObject* first = nullptr;
  ULONG returned = 7;
  EXPECT_EQ(U(list->Next(WBEM_INFINITE, 1, &first, &returned)), U(WBEM_S_FALSE));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(U(Exec(kEscapedPath, L"GetCurrentNvmVersion", nullptr, out)), U(WBEM_E_NOT_FOUND));
}

// Answers that report success without what was asked for, from a chosen call on.
TEST_F(ProviderTest, FaultsThatClaimSuccess) {
  std::vector<uint8_t> data;
  const struct {
    const wchar_t* ini;
    std::vector<LONG> returns;  // ReturnValue of successive 4-byte reads
    std::vector<size_t> bytes;  // data bytes each brought (0: none or empty)
  } cases[] = {
      {L"ShortReadFirmware=1\r\nFaultAfter=2\r\n", {0, 0, 0, 0}, {4, 4, 3, 3}},
      {L"ShortReadFirmware=9\r\n", {0}, {0}},
      {L"OmitReadData=1\r\nFaultAfter=1\r\n", {0, 0}, {4, 0}},
      {L"FailReadFirmware=7\r\nFaultAfter=1\r\n", {0, 7, 7}, {4, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.ini));
    Configure(c.ini);
    ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
    for (size_t i = 0; i < c.returns.size(); ++i) {
      EXPECT_EQ(Read(0, 4, data), c.returns[i]) << "call " << i + 1;
      EXPECT_EQ(data.size(), c.bytes[i]) << "call " << i + 1;
    }
  }
  EXPECT_NE(Record().find("data=omitted"), std::string::npos);

  Configure(L"OmitNvmVersion=1\r\nOmitReadData=1\r\n");
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  Ref<IWbemClassObject> out;
  ASSERT_EQ(U(Exec(kEscapedPath, L"GetCurrentNvmVersion", nullptr, out)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(GetInt(out.p, L"ReturnValue"), 0);
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(U(out->Get(L"NvmVersion", 0, &v, nullptr, nullptr)), U(WBEM_E_NOT_FOUND));
  Ref<IWbemClassObject> in;
  ASSERT_EQ(U(InParams(L"ReadFirmware", in)), U(WBEM_S_NO_ERROR));
  PutInt(in.p, L"offset", 0);
  PutInt(in.p, L"length", 4);
  ASSERT_EQ(U(Exec(kEscapedPath, L"ReadFirmware", in.p, out)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(GetInt(out.p, L"ReturnValue"), 0);
  EXPECT_EQ(U(out->Get(L"data", 0, &v, nullptr, nullptr)), U(WBEM_E_NOT_FOUND));

  // A failed Put leaves the parameter out; the provider refuses the call and records it.
  Configure(L"FailPut=offset\r\n");
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  ASSERT_EQ(U(InParams(L"ReadFirmware", in)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(U(PutInt(in.p, L"offset", 0)), U(WBEM_E_FAILED));
  EXPECT_EQ(U(PutInt(in.p, L"length", 4)), U(WBEM_S_NO_ERROR));
  EXPECT_EQ(U(Exec(kEscapedPath, L"ReadFirmware", in.p, out)), U(WBEM_E_INVALID_METHOD_PARAMETERS));
  EXPECT_NE(Record().find("name=offset type=0 vt=0x3 value=0 result=0x80041001"), std::string::npos);
}

// The hold: the K-th request of the armed step waits, recorded as held, until
// hold.txt no longer says "STEP 0"; requests before it count it down.
TEST_F(ProviderTest, HoldsTheArmedRequestUntilReleased) {
  const struct {
    const char* arm;
    const char* held;        // its line in hold.log
    const char* seenBefore;  // what the provider recorded before the held request
    size_t readsBefore;      // ReadFirmware calls answered before it
    bool writeBegun;         // the service's write had begun
  } cases[] = {
      {"ReadFirmware 2", "HELD ReadFirmware by=provider pid=", "ExecMethod method=ReadFirmware", 1, false},
      {"Put:Buffer 1", "HELD Put:Buffer by=provider pid=", "name=BufferSize", 2, false},
      {"UpdateFirmware 1", "HELD UpdateFirmware by=provider pid=", "name=Buffer type=0", 2, false},
      {"WRITE 1", "HELD WRITE by=service bytes=16", "WRITE begin bytes=16", 2, true},
  };
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  const std::wstring arm = dir_ + L"\\hold.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arm);
    DeleteFileW((dir_ + L"\\provider.log").c_str());
    DeleteFileW((dir_ + L"\\hold.log").c_str());
    DeleteFileW((dir_ + L"\\received.bin").c_str());
    std::ofstream(std::filesystem::path(arm)) << c.arm;
    // Two reads and a write, as the product makes them, on a thread of their own.
    HRESULT results[3] = {E_PENDING, E_PENDING, E_PENDING};
    std::thread calls([&] {
      for (int i = 0; i < 2; ++i) {
        Ref<IWbemClassObject> in, out;
        results[i] = InParams(L"ReadFirmware", in);
        PutInt(in.p, L"offset", i * 4);
        PutInt(in.p, L"length", 4);
        if (SUCCEEDED(results[i])) results[i] = Exec(kEscapedPath, L"ReadFirmware", in.p, out);
      }
      Ref<IWbemClassObject> in, out;
      results[2] = InParams(L"UpdateFirmware", in);
      PutInt(in.p, L"BufferSize", 16);
      PutBytes(in.p, std::vector<uint8_t>(16, 0x42));
      if (SUCCEEDED(results[2])) results[2] = Exec(kEscapedPath, L"UpdateFirmware", in.p, out);
    });
    auto holds = [&] { return Text(L"hold.log"); };
    for (int i = 0; i < 200 && holds().find("HELD") == std::string::npos; ++i) Sleep(25);
    Sleep(300);  // a request that was not held would have gone on by now
    EXPECT_NE(holds().find(c.held), std::string::npos) << holds();
    EXPECT_EQ(Count(Record(), "ExecMethod method=ReadFirmware"), c.readsBefore) << Record();
    EXPECT_NE(Record().find(c.seenBefore), std::string::npos) << Record();
    EXPECT_EQ(Count(Record(), "ExecMethod method=UpdateFirmware"), 0u);
    EXPECT_EQ(Count(Record(), "WRITE begin"), c.writeBegun ? 1u : 0u);
    EXPECT_EQ(ReadBytes(L"received.bin"), std::vector<uint8_t>{});
    EXPECT_EQ(Text(L"hold.txt"),
              std::string(c.arm, static_cast<size_t>(std::strchr(c.arm, ' ') - c.arm)) + " 0");

    // Arming another step releases it.
    std::ofstream(std::filesystem::path(arm)) << "DEVS 1";
    calls.join();
    for (HRESULT hr : results) EXPECT_EQ(U(hr), U(WBEM_S_NO_ERROR));
    EXPECT_EQ(Count(Record(), "ExecMethod method=UpdateFirmware"), 1u);
    EXPECT_EQ(ReadBytes(L"received.bin"), std::vector<uint8_t>(16, 0x42));
    EXPECT_EQ(Count(holds(), "HELD "), 1u);
    EXPECT_EQ(Count(holds(), "RELEASED "), 1u);
  }
  // Unarmed, or armed for a step the calls never make: nothing is held.
  std::ofstream(std::filesystem::path(arm)) << "GetCurrentNvmVersion 1";
  std::vector<uint8_t> data;
  EXPECT_EQ(Read(0, 4, data), 0);
  EXPECT_EQ(Update(std::vector<uint8_t>(16, 1), 16), 0);
  EXPECT_EQ(Text(L"hold.txt"), "GetCurrentNvmVersion 1");
  EXPECT_EQ(Count(Text(L"hold.log"), "HELD "), 1u);  // the last case's only
}

TEST_F(ProviderTest, RecordsEveryCallAndFreesEveryObject) {
  ASSERT_EQ(U(Connect()), U(WBEM_S_NO_ERROR));
  std::vector<uint8_t> data;
  for (int i = 0; i < 3; ++i) Read(i * 4, 4, data);
  Update(std::vector<uint8_t>(16, 1), 16);
  std::string record = Record();
  EXPECT_EQ(Count(record, "ExecMethod method=ReadFirmware"), 3u);
  EXPECT_EQ(Count(record, "ExecMethod method=UpdateFirmware"), 1u);
  EXPECT_EQ(Count(record, "GetMethod class=SdkTbtController name=ReadFirmware in=1 out=0"), 3u);
  EXPECT_NE(record.find("offset=8 length=4 return=0"), std::string::npos);
  EXPECT_NE(record.find("Put class=__PARAMETERS name=Buffer type=0 vt=0x2011"), std::string::npos);

  EXPECT_EQ(canUnloadNow_(), S_FALSE);  // the connection is still held
  services_.reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

}  // namespace
