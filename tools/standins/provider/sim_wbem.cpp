#include "tools/standins/provider/sim_wbem.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwctype>

#include "tools/standins/provider/object_path.h"
#include "tools/standins/provider/sim_hold.h"
#include "tools/standins/service/sim_writer.h"

LONG g_simObjects = 0;

namespace {

constexpr wchar_t kNamespace[] = L"ROOT\\Intel\\Thunderbolt";
constexpr wchar_t kClassName[] = L"SdkTbtController";
constexpr wchar_t kKeyName[] = L"ControllerId";

std::string Fmt(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::wstring FromBstr(const BSTR text) {
  return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

std::string Quote(const BSTR text) {
  return text ? "\"" + WideToUtf8(FromBstr(text)) + "\"" : "null";
}

VARTYPE VarTypeFor(CIMTYPE type) {
  VARTYPE base = VT_EMPTY;
  switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8:
    case CIM_SINT16: base = VT_I2; break;
    case CIM_UINT8: base = VT_UI1; break;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32: base = VT_I4; break;
    case CIM_REAL32: base = VT_R4; break;
    case CIM_REAL64: base = VT_R8; break;
    case CIM_BOOLEAN: base = VT_BOOL; break;
    case CIM_SINT64:
    case CIM_UINT64:
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE: base = VT_BSTR; break;
    case CIM_OBJECT: base = VT_UNKNOWN; break;
    default: return VT_EMPTY;
  }
  return (type & CIM_FLAG_ARRAY) ? static_cast<VARTYPE>(VT_ARRAY | base) : base;
}

CIMTYPE CimTypeFor(VARTYPE vt) {
  CIMTYPE base = CIM_EMPTY;
  switch (vt & ~VT_ARRAY) {
    case VT_I2: base = CIM_SINT16; break;
    case VT_UI1: base = CIM_UINT8; break;
    case VT_I4: base = CIM_SINT32; break;
    case VT_R4: base = CIM_REAL32; break;
    case VT_R8: base = CIM_REAL64; break;
    case VT_BOOL: base = CIM_BOOLEAN; break;
    case VT_BSTR: base = CIM_STRING; break;
    case VT_UNKNOWN: base = CIM_OBJECT; break;
    default: return CIM_ILLEGAL;
  }
  return (vt & VT_ARRAY) ? (base | CIM_FLAG_ARRAY) : base;
}

// A short description of a value for the records.
std::string Describe(const VARIANT* value) {
  if (!value) return "none";
  switch (V_VT(value)) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I4: return Fmt("%ld", static_cast<long>(V_I4(value)));
    case VT_BSTR: return Quote(V_BSTR(value));
    default: break;
  }
  if ((V_VT(value) & VT_ARRAY) && V_ARRAY(value)) {
    SAFEARRAY* array = V_ARRAY(value);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    return Fmt("array(dims=%u,lbound=%ld,count=%ld)", SafeArrayGetDim(array), static_cast<long>(lower),
               static_cast<long>(upper - lower + 1));
  }
  return Fmt("vt=0x%x", V_VT(value));
}

// Reads one VT_I4 in-parameter; false when it is missing or of another type.
bool GetInt(IWbemClassObject* in, const wchar_t* name, LONG& value, std::string& note) {
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = in->Get(name, 0, &v, nullptr, nullptr);
  bool ok = SUCCEEDED(hr) && V_VT(&v) == VT_I4;
  note += Fmt(" %s=%s", WideToUtf8(name).c_str(), SUCCEEDED(hr) ? Describe(&v).c_str() : "missing");
  if (ok) value = V_I4(&v);
  VariantClear(&v);
  return ok;
}

void SetInt(SimObject* object, const wchar_t* name, uint32_t value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = static_cast<LONG>(value);
  object->Set(name, v);
}

SimObject* NewOutParams() {
  SimObject* out = SimObject::NewInstance(L"__PARAMETERS");
  out->Define(L"ReturnValue", CIM_UINT32);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// SimObject

SimObject::SimObject(const std::wstring& className, bool isClass) : className_(className), isClass_(isClass) {
  InterlockedIncrement(&g_simObjects);
}

SimObject::~SimObject() {
  for (Method& m : methods_) {
    if (m.in) m.in->Release();
    if (m.out) m.out->Release();
  }
  InterlockedDecrement(&g_simObjects);
}

SimObject* SimObject::NewClass(const std::wstring& name) {
  return new SimObject(name, true);
}
SimObject* SimObject::NewInstance(const std::wstring& className) {
  return new SimObject(className, false);
}

SimObject::Property* SimObject::Find(const std::wstring& name) {
  for (Property& p : props_) {
    if (SimNameEquals(p.name, name)) return &p;
  }
  return nullptr;
}

void SimObject::Define(const std::wstring& name, CIMTYPE type) {
  Property* p = Find(name);
  if (!p) {
    props_.push_back(Property{name, type, SimVariant()});
    p = &props_.back();
  }
  p->type = type;
  VariantClear(p->value.get());
  V_VT(p->value.get()) = VT_NULL;
}

void SimObject::Set(const std::wstring& name, const VARIANT& value) {
  Property* p = Find(name);
  if (!p) {
    Define(name, CimTypeFor(V_VT(&value)));
    p = Find(name);
  }
  VariantCopy(p->value.get(), const_cast<VARIANT*>(&value));
}

void SimObject::AddMethod(const std::wstring& name, SimObject* in, SimObject* out) {
  methods_.push_back(Method{name, in, out});
}

void SimObject::SetRecordDir(const std::wstring& dir) {
  recordDir_ = dir;
  for (Method& m : methods_) {
    if (m.in) m.in->SetRecordDir(dir);
    if (m.out) m.out->SetRecordDir(dir);
  }
}

void SimObject::SetFailPut(const std::wstring& name) {
  failPut_ = name;
  for (Method& m : methods_) {
    if (m.in) m.in->SetFailPut(name);
  }
}

SimObject* SimObject::Copy() const {
  SimObject* copy = new SimObject(className_, isClass_);
  copy->props_ = props_;
  for (const Method& m : methods_) {
    copy->methods_.push_back(Method{m.name, m.in ? m.in->Copy() : nullptr, m.out ? m.out->Copy() : nullptr});
  }
  copy->recordDir_ = recordDir_;
  copy->failPut_ = failPut_;
  return copy;
}

STDMETHODIMP SimObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemClassObject)) {
    *ppv = static_cast<IWbemClassObject*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SimObject::AddRef() {
  return InterlockedIncrement(&refs_);
}

STDMETHODIMP_(ULONG) SimObject::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

STDMETHODIMP SimObject::GetQualifierSet(IWbemQualifierSet** ppQualSet) {
  if (ppQualSet) *ppQualSet = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimObject::Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  if (!wszName || lFlags != 0) return WBEM_E_INVALID_PARAMETER;
  const std::wstring name = wszName;
  if (pVal) VariantInit(pVal);
  if (SimNameEquals(name, L"__CLASS")) {
    if (pVal) {
      V_VT(pVal) = VT_BSTR;
      V_BSTR(pVal) = SysAllocString(className_.c_str());
    }
    if (pType) *pType = CIM_STRING;
    if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    return WBEM_S_NO_ERROR;
  }
  if (SimNameEquals(name, L"__GENUS")) {
    if (pVal) {
      V_VT(pVal) = VT_I4;
      V_I4(pVal) = isClass_ ? WBEM_GENUS_CLASS : WBEM_GENUS_INSTANCE;
    }
    if (pType) *pType = CIM_SINT32;
    if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    return WBEM_S_NO_ERROR;
  }
  Property* p = Find(name);
  if (!p) return WBEM_E_NOT_FOUND;
  if (pVal) {
    HRESULT hr = VariantCopy(pVal, p->value.get());
    if (FAILED(hr)) return WBEM_E_OUT_OF_MEMORY;
  }
  if (pType) *pType = p->type;
  if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) {
  HRESULT hr = WBEM_S_NO_ERROR;
  if (!isClass_ && !recordDir_.empty() && wszName) {
    SimHoldPoint(recordDir_, ("Put:" + WideToUtf8(wszName)).c_str(), "provider",
                 Fmt("pid=%lu", static_cast<unsigned long>(GetCurrentProcessId())));
  }
  if (!wszName || lFlags != 0) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (wszName[0] == L'_' && wszName[1] == L'_') {
    hr = WBEM_E_READ_ONLY;
  } else if (!isClass_ && !failPut_.empty() && SimNameEquals(failPut_, wszName)) {
    hr = WBEM_E_FAILED;  // steered by FailPut
  } else {
    Property* p = Find(wszName);
    const bool isNull = !pVal || V_VT(pVal) == VT_NULL || V_VT(pVal) == VT_EMPTY;
    if (!p && isClass_) {
      CIMTYPE type = Type ? Type : (isNull ? CIMTYPE{CIM_ILLEGAL} : CimTypeFor(V_VT(pVal)));
      if (type == CIM_ILLEGAL) {
        hr = WBEM_E_TYPE_MISMATCH;
      } else {
        Define(wszName, type);
        p = Find(wszName);
      }
    } else if (!p) {
      hr = WBEM_E_NOT_FOUND;  // instances cannot grow properties
    }
    if (SUCCEEDED(hr) && p) {
      if (Type != 0 && Type != p->type) {
        hr = WBEM_E_TYPE_MISMATCH;
      } else if (isNull) {
        VariantClear(p->value.get());
        V_VT(p->value.get()) = VT_NULL;
      } else if (V_VT(pVal) != VarTypeFor(p->type)) {
        hr = WBEM_E_TYPE_MISMATCH;
      } else if (FAILED(VariantCopy(p->value.get(), pVal))) {
        hr = WBEM_E_OUT_OF_MEMORY;
      }
    }
  }
  if (!recordDir_.empty()) {
    SimRecord(recordDir_, Fmt("Put class=%s name=%s type=%ld vt=0x%x value=%s result=0x%08lX",
                              WideToUtf8(className_).c_str(), wszName ? WideToUtf8(wszName).c_str() : "null",
                              static_cast<long>(Type), pVal ? V_VT(pVal) : 0, Describe(pVal).c_str(),
                              static_cast<unsigned long>(hr)));
  }
  return hr;
}

STDMETHODIMP SimObject::Delete(LPCWSTR wszName) {
  if (!wszName) return WBEM_E_INVALID_PARAMETER;
  for (auto it = props_.begin(); it != props_.end(); ++it) {
    if (SimNameEquals(it->name, wszName)) {
      if (isClass_) {
        props_.erase(it);
      } else {
        VariantClear(it->value.get());
        V_VT(it->value.get()) = VT_NULL;
      }
      return WBEM_S_NO_ERROR;
    }
  }
  return WBEM_E_NOT_FOUND;
}

STDMETHODIMP SimObject::GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY** pNames) {
  if (!pNames) return WBEM_E_INVALID_PARAMETER;
  SAFEARRAYBOUND bound{static_cast<ULONG>(props_.size()), 0};
  SAFEARRAY* names = SafeArrayCreate(VT_BSTR, 1, &bound);
  if (!names) return WBEM_E_OUT_OF_MEMORY;
  for (LONG i = 0; i < static_cast<LONG>(props_.size()); ++i) {
    BSTR name = SysAllocString(props_[i].name.c_str());
    SafeArrayPutElement(names, &i, name);
    SysFreeString(name);
  }
  *pNames = names;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::BeginEnumeration(LONG) {
  enumPos_ = 0;
  enumerating_ = true;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::Next(LONG, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  if (!enumerating_) return WBEM_E_UNEXPECTED;
  if (enumPos_ >= props_.size()) return WBEM_S_NO_MORE_DATA;
  const Property& p = props_[enumPos_++];
  if (strName) *strName = SysAllocString(p.name.c_str());
  if (pVal) {
    VariantInit(pVal);
    VariantCopy(pVal, const_cast<VARIANT*>(p.value.get()));
  }
  if (pType) *pType = p.type;
  if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::EndEnumeration() {
  enumerating_ = false;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet** ppQualSet) {
  if (ppQualSet) *ppQualSet = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimObject::Clone(IWbemClassObject** ppCopy) {
  if (!ppCopy) return WBEM_E_INVALID_PARAMETER;
  *ppCopy = Copy();
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::GetObjectText(LONG, BSTR* pstrObjectText) {
  if (!pstrObjectText) return WBEM_E_INVALID_PARAMETER;
  std::wstring text = (isClass_ ? L"class " : L"instance of ") + className_ + L"\n{\n";
  for (const Property& p : props_) {
    VARIANT shown;
    VariantInit(&shown);
    text += L"\t" + p.name;
    if (SUCCEEDED(VariantChangeType(&shown, const_cast<VARIANT*>(p.value.get()), 0, VT_BSTR))) {
      text += L" = " + FromBstr(V_BSTR(&shown));
    }
    text += L";\n";
    VariantClear(&shown);
  }
  text += L"};\n";
  *pstrObjectText = SysAllocString(text.c_str());
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::SpawnDerivedClass(LONG, IWbemClassObject** ppNewClass) {
  if (ppNewClass) *ppNewClass = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimObject::SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) {
  HRESULT hr = WBEM_S_NO_ERROR;
  if (!ppNewInstance || lFlags != 0) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (!isClass_) {
    hr = WBEM_E_INVALID_OPERATION;
  } else {
    SimObject* instance = NewInstance(className_);
    for (const Property& p : props_) instance->Define(p.name, p.type);
    instance->recordDir_ = recordDir_;
    instance->failPut_ = failPut_;
    *ppNewInstance = instance;
  }
  if (!recordDir_.empty()) {
    SimRecord(recordDir_, Fmt("SpawnInstance class=%s result=0x%08lX", WideToUtf8(className_).c_str(),
                              static_cast<unsigned long>(hr)));
  }
  return hr;
}

STDMETHODIMP SimObject::CompareTo(LONG, IWbemClassObject*) {
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimObject::GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) {
  if (!wszName || !pstrClassName) return WBEM_E_INVALID_PARAMETER;
  if (!Find(wszName)) return WBEM_E_NOT_FOUND;
  *pstrClassName = SysAllocString(className_.c_str());
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimObject::InheritsFrom(LPCWSTR) {
  return WBEM_S_FALSE;
}

STDMETHODIMP SimObject::GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                                  IWbemClassObject** ppOutSignature) {
  HRESULT hr = WBEM_E_NOT_FOUND;
  if (ppInSignature) *ppInSignature = nullptr;
  if (ppOutSignature) *ppOutSignature = nullptr;
  if (!wszName || lFlags != 0) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (!isClass_) {
    hr = WBEM_E_ILLEGAL_OPERATION;
  } else {
    for (const Method& m : methods_) {
      if (!SimNameEquals(m.name, wszName)) continue;
      // Each caller gets its own copies, so what it puts never reaches the definition.
      if (ppInSignature && m.in) *ppInSignature = m.in->Copy();
      if (ppOutSignature && m.out) *ppOutSignature = m.out->Copy();
      hr = WBEM_S_NO_ERROR;
      break;
    }
  }
  if (!recordDir_.empty()) {
    SimRecord(recordDir_, Fmt("GetMethod class=%s name=%s in=%d out=%d result=0x%08lX",
                              WideToUtf8(className_).c_str(), wszName ? WideToUtf8(wszName).c_str() : "null",
                              ppInSignature ? 1 : 0, ppOutSignature ? 1 : 0, static_cast<unsigned long>(hr)));
  }
  return hr;
}

STDMETHODIMP SimObject::PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::DeleteMethod(LPCWSTR) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::BeginMethodEnumeration(LONG) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::EndMethodEnumeration() {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet** ppQualSet) {
  if (ppQualSet) *ppQualSet = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimObject::GetMethodOrigin(LPCWSTR, BSTR* pstrClassName) {
  if (pstrClassName) *pstrClassName = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}

SimObject* SimNewControllerClass() {
  SimObject* cls = SimObject::NewClass(kClassName);
  cls->Define(kKeyName, CIM_STRING);

  SimObject* versionOut = NewOutParams();
  versionOut->Define(L"NvmVersion", CIM_UINT32);
  cls->AddMethod(L"GetCurrentNvmVersion", nullptr, versionOut);

  SimObject* readIn = SimObject::NewClass(L"__PARAMETERS");
  readIn->Define(L"offset", CIM_UINT32);
  readIn->Define(L"length", CIM_UINT32);
  SimObject* readOut = NewOutParams();
  readOut->Define(L"data", CIM_UINT8 | CIM_FLAG_ARRAY);
  cls->AddMethod(L"ReadFirmware", readIn, readOut);

  SimObject* updateIn = SimObject::NewClass(L"__PARAMETERS");
  updateIn->Define(L"BufferSize", CIM_UINT32);
  updateIn->Define(L"Buffer", CIM_UINT8 | CIM_FLAG_ARRAY);
  cls->AddMethod(L"UpdateFirmware", updateIn, NewOutParams());
  return cls;
}

// ---------------------------------------------------------------------------
// SimEnum

SimEnum::SimEnum(std::vector<SimObject*> objects, std::wstring recordDir)
    : objects_(std::move(objects)), recordDir_(std::move(recordDir)) {
  InterlockedIncrement(&g_simObjects);
}

SimEnum::~SimEnum() {
  for (SimObject* o : objects_) o->Release();
  InterlockedDecrement(&g_simObjects);
}

STDMETHODIMP SimEnum::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumWbemClassObject)) {
    *ppv = static_cast<IEnumWbemClassObject*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SimEnum::AddRef() {
  return InterlockedIncrement(&refs_);
}

STDMETHODIMP_(ULONG) SimEnum::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

STDMETHODIMP SimEnum::Reset() {
  pos_ = 0;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimEnum::Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects, ULONG* puReturned) {
  HRESULT hr;
  ULONG returned = 0;
  if (!apObjects || !puReturned) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else {
    while (returned < uCount && pos_ < objects_.size()) {
      objects_[pos_]->AddRef();
      apObjects[returned++] = objects_[pos_++];
    }
    *puReturned = returned;
    hr = returned == uCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  SimRecord(recordDir_, Fmt("Next timeout=%ld count=%lu returned=%lu result=0x%08lX",
                            static_cast<long>(lTimeout), static_cast<unsigned long>(uCount),
                            static_cast<unsigned long>(returned), static_cast<unsigned long>(hr)));
  return hr;
}

STDMETHODIMP SimEnum::NextAsync(ULONG, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimEnum::Clone(IEnumWbemClassObject** ppEnum) {
  if (!ppEnum) return WBEM_E_INVALID_PARAMETER;
  for (SimObject* o : objects_) o->AddRef();
  SimEnum* copy = new SimEnum(objects_, recordDir_);
  copy->pos_ = pos_;
  *ppEnum = copy;
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimEnum::Skip(LONG, ULONG nCount) {
  size_t left = objects_.size() - pos_;
  size_t step = nCount < left ? nCount : left;
  pos_ += step;
  return step == nCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

// ---------------------------------------------------------------------------
// SimServices

SimServices::SimServices(std::shared_ptr<const SimConfig> config) : config_(std::move(config)) {
  InterlockedIncrement(&g_simObjects);
}

SimServices::~SimServices() {
  InterlockedDecrement(&g_simObjects);
}

STDMETHODIMP SimServices::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemServices)) {
    *ppv = static_cast<IWbemServices*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SimServices::AddRef() {
  return InterlockedIncrement(&refs_);
}

STDMETHODIMP_(ULONG) SimServices::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

std::wstring SimServices::InstanceId(uint32_t index) const {
  return index == 0 ? config_->controllerId : config_->controllerId + L"#" + std::to_wstring(index + 1);
}

std::vector<SimObject*> SimServices::ListInstances() const {
  std::vector<SimObject*> list;
  for (uint32_t i = 0; i < config_->controllers; ++i) {
    SimObject* instance = SimObject::NewInstance(kClassName);
    VARIANT id;
    VariantInit(&id);
    V_VT(&id) = VT_BSTR;
    V_BSTR(&id) = SysAllocString(InstanceId(i).c_str());
    instance->Define(kKeyName, CIM_STRING);
    instance->Set(kKeyName, id);
    VariantClear(&id);
    list.push_back(instance);
  }
  return list;
}

STDMETHODIMP SimServices::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices** ppWorkingNamespace,
                                        IWbemCallResult** ppResult) {
  if (ppWorkingNamespace) *ppWorkingNamespace = nullptr;
  if (ppResult) *ppResult = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::CancelAsyncCall(IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::QueryObjectSink(LONG, IWbemObjectSink** ppResponseHandler) {
  if (ppResponseHandler) *ppResponseHandler = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimServices::GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                    IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) {
  HRESULT hr = WBEM_E_NOT_FOUND;
  if (ppCallResult) *ppCallResult = nullptr;
  SimObjectPath path;
  if (!ppObject) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (*ppObject = nullptr; !strObjectPath || !SimParseObjectPath(FromBstr(strObjectPath), path)) {
    hr = WBEM_E_INVALID_OBJECT_PATH;
  } else if (!SimNameEquals(path.className, kClassName)) {
    hr = WBEM_E_INVALID_CLASS;
  } else if (!path.hasKey) {
    SimObject* cls = SimNewControllerClass();
    cls->SetRecordDir(config_->dir);
    cls->SetFailPut(config_->failPut);
    *ppObject = cls;
    hr = WBEM_S_NO_ERROR;
  } else if (SimNameEquals(path.keyName, kKeyName)) {
    std::vector<SimObject*> list = ListInstances();
    for (uint32_t i = 0; i < list.size(); ++i) {
      if (!*ppObject && InstanceId(i) == path.keyValue) {
        *ppObject = list[i];
        hr = WBEM_S_NO_ERROR;
      } else {
        list[i]->Release();
      }
    }
  }
  SimRecord(config_->dir, Fmt("GetObject path=%s flags=0x%lx context=%d callresult=%d result=0x%08lX",
                              Quote(strObjectPath).c_str(), static_cast<unsigned long>(lFlags), pCtx ? 1 : 0,
                              ppCallResult ? 1 : 0, static_cast<unsigned long>(hr)));
  return hr;
}

STDMETHODIMP SimServices::GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
  return WBEM_E_ACCESS_DENIED;
}
STDMETHODIMP SimServices::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_ACCESS_DENIED;
}

STDMETHODIMP SimServices::CreateInstanceEnum(const BSTR strFilter, LONG, IWbemContext*,
                                             IEnumWbemClassObject** ppEnum) {
  if (!ppEnum) return WBEM_E_INVALID_PARAMETER;
  *ppEnum = nullptr;
  if (!strFilter || !SimNameEquals(FromBstr(strFilter), kClassName)) return WBEM_E_INVALID_CLASS;
  *ppEnum = new SimEnum(ListInstances(), config_->dir);
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimServices::CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

STDMETHODIMP SimServices::ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                    IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) {
  HRESULT hr = WBEM_S_NO_ERROR;
  // Words of the query, lower-cased, so spacing and case do not matter.
  std::vector<std::wstring> words;
  for (wchar_t c : FromBstr(strQuery)) {
    if (std::iswspace(c)) {
      if (!words.empty() && !words.back().empty()) words.emplace_back();
    } else {
      if (words.empty()) words.emplace_back();
      words.back().push_back(static_cast<wchar_t>(std::towlower(c)));
    }
  }
  if (!words.empty() && words.back().empty()) words.pop_back();

  if (!ppEnum) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (*ppEnum = nullptr; !strQueryLanguage || !SimNameEquals(FromBstr(strQueryLanguage), L"WQL")) {
    hr = WBEM_E_INVALID_QUERY_TYPE;
  } else if (words.size() != 4 || words[0] != L"select" || words[1] != L"*" || words[2] != L"from") {
    hr = WBEM_E_INVALID_QUERY;
  } else if (!SimNameEquals(words[3], kClassName)) {
    hr = WBEM_E_INVALID_CLASS;
  } else {
    *ppEnum = new SimEnum(ListInstances(), config_->dir);
  }
  SimRecord(config_->dir,
            Fmt("ExecQuery language=%s query=%s flags=0x%lx context=%d instances=%u result=0x%08lX",
                Quote(strQueryLanguage).c_str(), Quote(strQuery).c_str(), static_cast<unsigned long>(lFlags),
                pCtx ? 1 : 0, SUCCEEDED(hr) ? config_->controllers : 0u, static_cast<unsigned long>(hr)));
  return hr;
}

STDMETHODIMP SimServices::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                IEnumWbemClassObject** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return WBEM_E_NOT_SUPPORTED;
}
STDMETHODIMP SimServices::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                     IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

HRESULT SimServices::RunGetCurrentNvmVersion(SimObject* out, std::string& note) {
  uint32_t rv = config_->failVersion.value_or(0);
  SetInt(out, L"ReturnValue", rv);
  if (config_->omitNvmVersion) {
    note += Fmt(" return=%lu NvmVersion=omitted", static_cast<unsigned long>(rv));
    return WBEM_S_NO_ERROR;
  }
  out->Define(L"NvmVersion", CIM_UINT32);
  SetInt(out, L"NvmVersion", config_->nvmVersion);
  note += Fmt(" return=%lu NvmVersion=0x%lX", static_cast<unsigned long>(rv),
              static_cast<unsigned long>(config_->nvmVersion));
  return WBEM_S_NO_ERROR;
}

HRESULT SimServices::RunReadFirmware(IWbemClassObject* in, SimObject* out, std::string& note) {
  // Counted per connection, which the product makes once per process, so
  // FaultAfter can pick any call of a run.
  const uint32_t call = static_cast<uint32_t>(InterlockedIncrement(&readCalls_));
  const bool faulty = !config_->faultAfter || call > *config_->faultAfter;
  LONG offset = 0, length = 0;
  if (!in) {
    note += " in=none";
    return WBEM_E_INVALID_METHOD_PARAMETERS;
  }
  bool haveOffset = GetInt(in, L"offset", offset, note);
  bool haveLength = GetInt(in, L"length", length, note);
  if (!haveOffset || !haveLength) return WBEM_E_INVALID_METHOD_PARAMETERS;

  uint32_t rv = 0;
  if (config_->failRead && faulty) {
    rv = *config_->failRead;
  } else if (offset < 0 || length <= 0 || static_cast<uint32_t>(length) > kSimMaxReadLength ||
             static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) > config_->nvm.size()) {
    rv = kSimReturnBadParameter;
  } else if (config_->omitReadData && faulty) {
    note += " data=omitted";
  } else {
    // A short answer still claims success: ShortReadFirmware bytes are missing at the end.
    const uint32_t missing = faulty ? std::min<uint32_t>(config_->shortRead.value_or(0), length) : 0;
    const uint32_t count = static_cast<uint32_t>(length) - missing;
    if (missing) note += Fmt(" data_bytes=%lu", static_cast<unsigned long>(count));
    SAFEARRAYBOUND bound{count, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) return WBEM_E_OUT_OF_MEMORY;
    void* bytes = nullptr;
    SafeArrayAccessData(array, &bytes);
    if (count) memcpy(bytes, config_->nvm.data() + offset, count);
    SafeArrayUnaccessData(array);
    VARIANT data;
    VariantInit(&data);
    V_VT(&data) = VT_ARRAY | VT_UI1;
    V_ARRAY(&data) = array;
    out->Define(L"data", CIM_UINT8 | CIM_FLAG_ARRAY);
    out->Set(L"data", data);
    VariantClear(&data);
  }
  SetInt(out, L"ReturnValue", rv);
  note += Fmt(" return=%lu call=%lu", static_cast<unsigned long>(rv), static_cast<unsigned long>(call));
  return WBEM_S_NO_ERROR;
}

HRESULT SimServices::RunUpdateFirmware(IWbemClassObject* in, SimObject* out, std::string& note) {
  if (!in) {
    note += " in=none";
    return WBEM_E_INVALID_METHOD_PARAMETERS;
  }
  LONG size = 0;
  if (!GetInt(in, L"BufferSize", size, note)) return WBEM_E_INVALID_METHOD_PARAMETERS;

  VARIANT buffer;
  VariantInit(&buffer);
  HRESULT got = in->Get(L"Buffer", 0, &buffer, nullptr, nullptr);
  note += Fmt(" Buffer=%s", SUCCEEDED(got) ? Describe(&buffer).c_str() : "missing");

  uint32_t rv = kSimReturnBadParameter;
  if (SUCCEEDED(got) && V_VT(&buffer) == (VT_ARRAY | VT_UI1) && V_ARRAY(&buffer) &&
      SafeArrayGetDim(V_ARRAY(&buffer)) == 1) {
    SAFEARRAY* array = V_ARRAY(&buffer);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    LONG count = upper - lower + 1;
    void* bytes = nullptr;
    if (count >= 0 && SUCCEEDED(SafeArrayAccessData(array, &bytes))) {
      if (lower == 0 && count == size && size > 0) {
        rv = HandToService(static_cast<const uint8_t*>(bytes), static_cast<uint32_t>(count), note);
      } else {
        // Refused, so never written; what arrived is still kept for the record.
        SimWriteFile(config_->dir + L"\\received.bin", static_cast<const uint8_t*>(bytes),
                     static_cast<size_t>(count));
      }
      SafeArrayUnaccessData(array);
    }
  }
  VariantClear(&buffer);

  SetInt(out, L"ReturnValue", rv);
  note += Fmt(" return=%lu", static_cast<unsigned long>(rv));
  return WBEM_S_NO_ERROR;
}

uint32_t SimServices::HandToService(const uint8_t* bytes, uint32_t size, std::string& note) {
  // As on Windows, the service writes, in its own process: a caller killed
  // mid-call leaves the write running. Without the service nothing is written.
  uint32_t written = 0;
  std::string why;
  if (!SimWriterHand(config_->dir, config_->updateLatencyMs, bytes, size, written, why)) {
    note += " service=\"" + why + "\"";
    return kSimReturnServiceNotActive;
  }
  note += Fmt(" service=done written=%lu", static_cast<unsigned long>(written));
  return written ? written : config_->failUpdate.value_or(0);
}

STDMETHODIMP SimServices::ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                     IWbemContext* pCtx, IWbemClassObject* pInParams,
                                     IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) {
  const ULONGLONG started = GetTickCount64();
  if (ppOutParams) *ppOutParams = nullptr;
  if (ppCallResult) *ppCallResult = nullptr;
  const std::wstring method = FromBstr(strMethodName);
  SimHoldPoint(config_->dir, WideToUtf8(method).c_str(), "provider",
               Fmt("pid=%lu", static_cast<unsigned long>(GetCurrentProcessId())));
  if (config_->latencyMs) Sleep(config_->latencyMs);

  std::string note;
  HRESULT hr = WBEM_S_NO_ERROR;
  SimObjectPath path;
  if (!strObjectPath || !SimParseObjectPath(FromBstr(strObjectPath), path)) {
    hr = WBEM_E_INVALID_OBJECT_PATH;
  } else if (!SimNameEquals(path.className, kClassName)) {
    hr = WBEM_E_INVALID_CLASS;
  } else if (!path.hasKey) {
    hr = WBEM_E_INVALID_METHOD;  // the methods belong to an instance
  } else if (!SimNameEquals(path.keyName, kKeyName)) {
    hr = WBEM_E_INVALID_OBJECT_PATH;
  } else if (lFlags != 0) {
    hr = WBEM_E_INVALID_PARAMETER;  // only synchronous calls are served
  } else {
    bool listed = false;
    for (uint32_t i = 0; i < config_->controllers; ++i) listed = listed || InstanceId(i) == path.keyValue;
    if (!listed) hr = WBEM_E_NOT_FOUND;
  }

  SimObject* out = nullptr;
  if (SUCCEEDED(hr)) {
    out = NewOutParams();
    if (SimNameEquals(method, L"GetCurrentNvmVersion")) {
      hr = RunGetCurrentNvmVersion(out, note);
    } else if (SimNameEquals(method, L"ReadFirmware")) {
      hr = RunReadFirmware(pInParams, out, note);
    } else if (SimNameEquals(method, L"UpdateFirmware")) {
      hr = RunUpdateFirmware(pInParams, out, note);
      // The write has run either way; what fails is the call's own answer.
      if (SUCCEEDED(hr) && config_->updateCallFault == SimCallFault::kExec) {
        hr = WBEM_E_FAILED;
        note += " fault=exec";
      } else if (SUCCEEDED(hr) && config_->updateCallFault == SimCallFault::kNoReturn) {
        out->Release();
        out = SimObject::NewInstance(L"__PARAMETERS");
        note += " fault=noreturn";
      }
    } else {
      hr = WBEM_E_INVALID_METHOD;
    }
  }
  if (SUCCEEDED(hr) && ppOutParams) {
    *ppOutParams = out;
  } else if (out) {
    out->Release();
  }
  SimRecord(config_->dir,
            Fmt("ExecMethod method=%s path=%s flags=0x%lx context=%d in=%d out=%d callresult=%d%s "
                "elapsed_ms=%llu result=0x%08lX",
                WideToUtf8(method).c_str(), Quote(strObjectPath).c_str(), static_cast<unsigned long>(lFlags),
                pCtx ? 1 : 0, pInParams ? 1 : 0, ppOutParams ? 1 : 0, ppCallResult ? 1 : 0, note.c_str(),
                static_cast<unsigned long long>(GetTickCount64() - started), static_cast<unsigned long>(hr)));
  return hr;
}

STDMETHODIMP SimServices::ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                          IWbemObjectSink*) {
  return WBEM_E_NOT_SUPPORTED;
}

// ---------------------------------------------------------------------------
// SimLocator

SimLocator::SimLocator() {
  InterlockedIncrement(&g_simObjects);
}
SimLocator::~SimLocator() {
  InterlockedDecrement(&g_simObjects);
}

STDMETHODIMP SimLocator::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemLocator)) {
    *ppv = static_cast<IWbemLocator*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SimLocator::AddRef() {
  return InterlockedIncrement(&refs_);
}

STDMETHODIMP_(ULONG) SimLocator::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return n;
}

STDMETHODIMP SimLocator::ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                       const BSTR strPassword, const BSTR strLocale, LONG lSecurityFlags,
                                       const BSTR strAuthority, IWbemContext* pCtx,
                                       IWbemServices** ppNamespace) {
  std::shared_ptr<const SimConfig> config = SimLoadConfig();
  SimHoldPoint(config->dir, "ConnectServer", "provider",
               Fmt("pid=%lu", static_cast<unsigned long>(GetCurrentProcessId())));
  std::wstring ns = FromBstr(strNetworkResource);
  for (const wchar_t* local : {L"\\\\.\\", L"//./"}) {
    if (ns.compare(0, 4, local) == 0) ns.erase(0, 4);
  }
  HRESULT hr = WBEM_S_NO_ERROR;
  if (!ppNamespace) {
    hr = WBEM_E_INVALID_PARAMETER;
  } else if (*ppNamespace = nullptr; !SimNameEquals(ns, kNamespace)) {
    hr = WBEM_E_INVALID_NAMESPACE;
  } else {
    *ppNamespace = new SimServices(config);
  }
  SimRecord(
      config->dir,
      Fmt("ConnectServer namespace=%s user=%s password=%s locale=%s authority=%s flags=0x%lx context=%d "
          "nvm=%s nvm_bytes=%u nvm_version=0x%lX result=0x%08lX",
          Quote(strNetworkResource).c_str(), Quote(strUser).c_str(), strPassword ? "set" : "null",
          Quote(strLocale).c_str(), Quote(strAuthority).c_str(), static_cast<unsigned long>(lSecurityFlags),
          pCtx ? 1 : 0, config->nvmLoaded ? "loaded" : "missing", static_cast<unsigned>(config->nvm.size()),
          static_cast<unsigned long>(config->nvmVersion), static_cast<unsigned long>(hr)));
  return hr;
}
