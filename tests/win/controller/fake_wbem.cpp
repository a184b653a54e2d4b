#include "tests/win/controller/fake_wbem.h"

#include <cstdio>

namespace {

std::wstring FromBstr(const BSTR text) {
  return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

const char* KindName(FakeObject::Kind kind) {
  switch (kind) {
    case FakeObject::Kind::Instance: return "instance";
    case FakeObject::Kind::Class: return "class object";
    case FakeObject::Kind::InSignature: return "in-signature";
    case FakeObject::Kind::InParams: return "in-parameters";
    case FakeObject::Kind::OutParams: return "out-parameters";
  }
  return "?";
}

}  // namespace

OwnedVariant& OwnedVariant::operator=(const OwnedVariant& other) {
  if (this != &other) {
    VariantClear(&m_v);
    VariantCopy(&m_v, const_cast<VARIANT*>(&other.m_v));
  }
  return *this;
}

OwnedVariant OwnedVariant::I4(LONG value) {
  OwnedVariant v;
  V_VT(&v.m_v) = VT_I4;
  V_I4(&v.m_v) = value;
  return v;
}

OwnedVariant OwnedVariant::I8(LONGLONG value) {
  OwnedVariant v;
  V_VT(&v.m_v) = VT_I8;
  V_I8(&v.m_v) = value;
  return v;
}

OwnedVariant OwnedVariant::UI8(ULONGLONG value) {
  OwnedVariant v;
  V_VT(&v.m_v) = VT_UI8;
  V_UI8(&v.m_v) = value;
  return v;
}

OwnedVariant OwnedVariant::String(std::wstring_view text) {
  OwnedVariant v;
  V_VT(&v.m_v) = VT_BSTR;
  V_BSTR(&v.m_v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

OwnedVariant OwnedVariant::Null() {
  OwnedVariant v;
  V_VT(&v.m_v) = VT_NULL;
  return v;
}

OwnedVariant OwnedVariant::Bytes(const std::vector<uint8_t>& bytes, LONG lowerBound, VARTYPE elementType,
                                 VARTYPE tag) {
  OwnedVariant v;
  SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lowerBound};
  SAFEARRAY* psa = SafeArrayCreate(elementType, 1, &bound);
  for (size_t i = 0; i < bytes.size(); ++i) {
    LONG index = lowerBound + static_cast<LONG>(i);
    if (elementType == VT_I4) {
      LONG wide = bytes[i];
      SafeArrayPutElement(psa, &index, &wide);
    } else {
      uint8_t byte = bytes[i];
      SafeArrayPutElement(psa, &index, &byte);
    }
  }
  V_VT(&v.m_v) = VT_ARRAY | (tag == VT_EMPTY ? elementType : tag);
  V_ARRAY(&v.m_v) = psa;
  return v;
}

std::vector<uint8_t> OwnedVariant::ArrayBytes() const {
  std::vector<uint8_t> bytes;
  if (V_VT(&m_v) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&m_v)) return bytes;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(V_ARRAY(&m_v), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&m_v), 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    uint8_t byte = 0;
    SafeArrayGetElement(V_ARRAY(&m_v), &i, &byte);
    bytes.push_back(byte);
  }
  return bytes;
}

HRESULT FakeObject::Get(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
  if (!wszName) return WBEM_E_INVALID_PARAMETER;
  auto it = properties.find(wszName);
  if (it == properties.end()) return WBEM_E_NOT_FOUND;
  if (pVal) {
    VariantInit(pVal);
    HRESULT hr = VariantCopy(pVal, const_cast<VARIANT*>(&it->second.Get()));
    if (FAILED(hr)) return hr;
  }
  if (pType) *pType = CIM_EMPTY;
  if (plFlavor) *plFlavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  return S_OK;
}

HRESULT FakeObject::Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) {
  if (!wszName) return WBEM_E_INVALID_PARAMETER;
  OwnedVariant value = pVal ? OwnedVariant(*pVal) : OwnedVariant();
  puts.push_back({wszName, lFlags, Type, value});
  auto failure = m_provider.putResults.find(wszName);
  if (failure != m_provider.putResults.end() && FAILED(failure->second)) return failure->second;
  properties[wszName] = value;
  return S_OK;
}

HRESULT FakeObject::SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) {
  m_provider.spawnFlags.push_back(lFlags);
  if (!ppNewInstance) return WBEM_E_INVALID_PARAMETER;
  *ppNewInstance = nullptr;
  if (m_kind != Kind::InSignature) return WBEM_E_INVALID_OPERATION;
  if (FAILED(m_provider.spawnResult)) return m_provider.spawnResult;
  FakeObject* instance = m_provider.NewObject(Kind::InParams);
  instance->method = method;
  instance->AddRef();
  *ppNewInstance = instance;
  return S_OK;
}

HRESULT FakeObject::GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                              IWbemClassObject** ppOutSignature) {
  m_provider.getMethods.push_back(
      {wszName ? wszName : L"", lFlags, ppInSignature != nullptr, ppOutSignature != nullptr});
  if (ppInSignature) *ppInSignature = nullptr;
  if (ppOutSignature) *ppOutSignature = nullptr;
  if (m_kind != Kind::Class || !wszName) return WBEM_E_INVALID_OPERATION;
  if (FAILED(m_provider.getMethodResult)) return m_provider.getMethodResult;
  auto it = m_provider.methods.find(wszName);
  if (it == m_provider.methods.end()) return WBEM_E_NOT_FOUND;
  // Like WMI, a method without in-parameters has no in-signature.
  if (ppInSignature && it->second) {
    FakeObject* signature = m_provider.NewObject(Kind::InSignature);
    signature->method = wszName;
    signature->AddRef();
    *ppInSignature = signature;
  }
  return S_OK;
}

HRESULT FakeEnum::Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects, ULONG* puReturned) {
  m_provider.nexts.push_back({lTimeout, uCount});
  if (!apObjects || !puReturned) return WBEM_E_INVALID_PARAMETER;
  ULONG returned = 0;
  while (returned < uCount && m_next < instances.size()) {
    FakeObject* instance = instances[m_next++];
    instance->AddRef();
    apObjects[returned++] = instance;
  }
  *puReturned = returned;
  return returned == uCount ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

HRESULT FakeServices::GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) {
  m_provider.getObjects.push_back(
      {FromBstr(strObjectPath), lFlags, pCtx != nullptr, ppCallResult != nullptr});
  if (ppCallResult) *ppCallResult = nullptr;
  if (!ppObject) return WBEM_E_INVALID_PARAMETER;
  *ppObject = nullptr;
  if (FAILED(m_provider.getObjectResult)) return m_provider.getObjectResult;
  if (FromBstr(strObjectPath) != L"SdkTbtController") return WBEM_E_NOT_FOUND;
  FakeObject* classObject = m_provider.NewObject(FakeObject::Kind::Class);
  classObject->AddRef();
  *ppObject = classObject;
  return S_OK;
}

HRESULT FakeServices::ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) {
  m_provider.queries.push_back({FromBstr(strQueryLanguage), FromBstr(strQuery), lFlags, pCtx != nullptr});
  if (!ppEnum) return WBEM_E_INVALID_PARAMETER;
  *ppEnum = nullptr;
  if (FAILED(m_provider.queryResult)) return m_provider.queryResult;
  FakeEnum* enumerator = m_provider.NewEnum();
  for (const auto& properties : m_provider.instances) {
    FakeObject* instance = m_provider.NewObject(FakeObject::Kind::Instance);
    instance->properties = properties;
    enumerator->instances.push_back(instance);
  }
  enumerator->AddRef();
  *ppEnum = enumerator;
  return S_OK;
}

HRESULT FakeServices::ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                 IWbemContext* pCtx, IWbemClassObject* pInParams,
                                 IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) {
  ExecRecord record{
      FromBstr(strObjectPath), FromBstr(strMethodName), lFlags, pCtx != nullptr, ppOutParams != nullptr,
      ppCallResult != nullptr, pInParams != nullptr,    {}};
  if (pInParams) record.inPuts = static_cast<FakeObject*>(pInParams)->puts;
  m_provider.execs.push_back(record);
  if (ppCallResult) *ppCallResult = nullptr;
  if (ppOutParams) *ppOutParams = nullptr;

  const MethodAnswer& answer = m_provider.answers[record.method];
  if (FAILED(answer.result)) return answer.result;
  if (answer.noOutParams || !ppOutParams) return answer.result;
  FakeObject* out = m_provider.NewObject(FakeObject::Kind::OutParams);
  out->method = record.method;
  out->properties = answer.out;
  out->AddRef();
  *ppOutParams = out;
  return answer.result;
}

FakeProvider::FakeProvider() : services(*this) {}

FakeObject* FakeProvider::NewObject(FakeObject::Kind kind) {
  m_objects.push_back(std::make_unique<FakeObject>(*this, kind));
  return m_objects.back().get();
}

FakeEnum* FakeProvider::NewEnum() {
  m_enums.push_back(std::make_unique<FakeEnum>(*this));
  return m_enums.back().get();
}

std::string FakeProvider::Leaks(LONG servicesRefs) const {
  std::string leaks;
  char line[160];
  for (const auto& object : m_objects) {
    if (object->Refs() != 0) {
      std::snprintf(line, sizeof(line), "%s of %ls left at %ld references; ", KindName(object->kind()),
                    object->method.c_str(), object->Refs());
      leaks += line;
    }
  }
  for (const auto& enumerator : m_enums) {
    if (enumerator->Refs() != 0) {
      std::snprintf(line, sizeof(line), "enumerator left at %ld references; ", enumerator->Refs());
      leaks += line;
    }
  }
  if (services.Refs() != servicesRefs) {
    std::snprintf(line, sizeof(line), "services at %ld references, expected %ld; ", services.Refs(),
                  servicesRefs);
    leaks += line;
  }
  return leaks;
}

void FakeProvider::ListController(const OwnedVariant& controllerId) {
  instances.push_back({{L"ControllerId", controllerId}});
}
