// A provider that the tests stand in place of the Thunderbolt WMI provider: fake
// IWbemServices, IEnumWbemClassObject and IWbemClassObject objects that record
// what the client sends and answer as configured. Values travel in real
// VARIANTs, BSTRs and SAFEARRAYs from oleaut32.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A VARIANT owned by the test. Copies are deep (VariantCopy).
class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&m_v); }
  explicit OwnedVariant(const VARIANT& v) : OwnedVariant() { VariantCopy(&m_v, const_cast<VARIANT*>(&v)); }
  OwnedVariant(const OwnedVariant& other) : OwnedVariant(other.m_v) {}
  OwnedVariant& operator=(const OwnedVariant& other);
  ~OwnedVariant() { VariantClear(&m_v); }
  const VARIANT& Get() const { return m_v; }
  VARTYPE Type() const { return V_VT(&m_v); }

  static OwnedVariant I4(LONG value);
  static OwnedVariant I8(LONGLONG value);
  static OwnedVariant UI8(ULONGLONG value);
  static OwnedVariant String(std::wstring_view text);
  static OwnedVariant Null();
  // A one-dimensional array of `bytes` with elements of `elementType`, tagged
  // VT_ARRAY | `tag` (by default the element type; a provider may claim another).
  static OwnedVariant Bytes(const std::vector<uint8_t>& bytes, LONG lowerBound = 0,
                            VARTYPE elementType = VT_UI1, VARTYPE tag = VT_EMPTY);

  // The bytes of a one-dimensional VT_UI1 array, element by element.
  std::vector<uint8_t> ArrayBytes() const;

 private:
  VARIANT m_v;
};

// Reference counting shared by every fake. The test owns the objects, so
// their counts can still be read after the client let go: a count above 0 is
// a leaked reference, below 0 a release too many.
template <class Iface>
class FakeCom : public Iface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Iface))) {
      *ppv = static_cast<Iface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }
  LONG Refs() const { return m_refs; }

 private:
  LONG m_refs = 0;
};

struct PutRecord {
  std::wstring name;
  LONG flags;
  CIMTYPE type;
  OwnedVariant value;
};

class FakeProvider;

class FakeObject : public FakeCom<IWbemClassObject> {
 public:
  enum class Kind { Instance, Class, InSignature, InParams, OutParams };
  FakeObject(FakeProvider& provider, Kind kind) : m_provider(provider), m_kind(kind) {}

  Kind kind() const { return m_kind; }
  std::map<std::wstring, OwnedVariant> properties;
  std::wstring method;          // InSignature, InParams, OutParams: the method they belong to
  std::vector<PutRecord> puts;  // in the order the client stored them

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                LONG* plFlavor) override;
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                      IWbemClassObject** ppOutSignature) override;
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

 private:
  FakeProvider& m_provider;
  Kind m_kind;
};

class FakeEnum : public FakeCom<IEnumWbemClassObject> {
 public:
  explicit FakeEnum(FakeProvider& provider) : m_provider(provider) {}
  std::vector<FakeObject*> instances;

  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                 ULONG* puReturned) override;
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return E_NOTIMPL; }

 private:
  FakeProvider& m_provider;
  size_t m_next = 0;
};

class FakeServices : public FakeCom<IWbemServices> {
 public:
  explicit FakeServices(FakeProvider& provider) : m_provider(provider) {}

  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                          IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                      IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override;
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                            IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                               IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                    IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                      IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override;
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                       IWbemContext* pCtx, IWbemClassObject* pInParams,
                                       IWbemClassObject** ppOutParams,
                                       IWbemCallResult** ppCallResult) override;
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override {
    return E_NOTIMPL;
  }

 private:
  FakeProvider& m_provider;
};

struct QueryRecord {
  std::wstring language;
  std::wstring query;
  LONG flags;
  bool context;
};
struct NextRecord {
  LONG timeout;
  ULONG count;
};
struct GetObjectRecord {
  std::wstring path;
  LONG flags;
  bool context;
  bool callResultAsked;
};
struct GetMethodRecord {
  std::wstring method;
  LONG flags;
  bool inAsked;
  bool outAsked;
};
struct ExecRecord {
  std::wstring path;
  std::wstring method;
  LONG flags;
  bool context;
  bool outAsked;
  bool callResultAsked;
  bool inParamsGiven;
  std::vector<PutRecord> inPuts;  // what the in-parameter object held at the call
};

// How ExecMethod answers one method.
struct MethodAnswer {
  HRESULT result = S_OK;
  bool noOutParams = false;  // succeed, but hand back no out-parameter object
  std::map<std::wstring, OwnedVariant> out;
};

class FakeProvider {
 public:
  FakeProvider();
  FakeProvider(const FakeProvider&) = delete;
  FakeProvider& operator=(const FakeProvider&) = delete;

  // Set-up. Every query lists `instances` (property sets) in this order.
  std::vector<std::map<std::wstring, OwnedVariant>> instances;
  HRESULT queryResult = S_OK;
  HRESULT getObjectResult = S_OK;
  HRESULT getMethodResult = S_OK;
  HRESULT spawnResult = S_OK;
  std::map<std::wstring, HRESULT> putResults;  // by parameter name; S_OK otherwise
  // Methods of the class and whether they take in-parameters.
  std::map<std::wstring, bool> methods = {
      {L"GetCurrentNvmVersion", false}, {L"ReadFirmware", true}, {L"UpdateFirmware", true}};
  std::map<std::wstring, MethodAnswer> answers;

  // Record.
  std::vector<QueryRecord> queries;
  std::vector<NextRecord> nexts;
  std::vector<GetObjectRecord> getObjects;
  std::vector<GetMethodRecord> getMethods;
  std::vector<LONG> spawnFlags;
  std::vector<ExecRecord> execs;

  FakeServices services;

  FakeObject* NewObject(FakeObject::Kind kind);
  FakeEnum* NewEnum();

  // Every fake handed to the client back at a count of 0, and the services
  // at `servicesRefs`; otherwise a description of what was left over.
  std::string Leaks(LONG servicesRefs) const;

  // A ControllerId-only instance.
  void ListController(const OwnedVariant& controllerId);

 private:
  std::deque<std::unique_ptr<FakeObject>> m_objects;
  std::deque<std::unique_ptr<FakeEnum>> m_enums;
};
