#include "controller/tbt_wmi.h"

#include <windows.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/run_log.h"

namespace {

// Process-wide client state, touched on the worker thread only. The
// connection is made once and kept; the instance path is found once.
IWbemServices* g_pServices = nullptr;
std::wstring g_strInstancePath;

constexpr wchar_t kNamespace[] = L"ROOT\\Intel\\Thunderbolt";
constexpr wchar_t kClassName[] = L"SdkTbtController";

// Every interface obtained for one provider call is released when it ends.
template <class T>
using ComRef = Microsoft::WRL::ComPtr<T>;

class Bstr {
 public:
  explicit Bstr(std::wstring_view text)
      : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(m_bstr); }
  BSTR Get() const { return m_bstr; }

 private:
  BSTR m_bstr;
};

// A VARIANT that is cleared (and whatever it holds freed) when it goes away.
struct Variant {
  VARIANT v;
  Variant() { VariantInit(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v); }
};

// A property's value as a 32-bit number. Any integer variant counts (WMI hands
// uint32 properties over as VT_I4); an empty, null or non-numeric value is no value.
bool GetUint32(IWbemClassObject* pObject, const wchar_t* name, uint32_t& value) {
  Variant var;
  if (FAILED(pObject->Get(name, 0, &var.v, nullptr, nullptr))) return false;
  switch (V_VT(&var.v)) {
    case VT_I1: value = static_cast<uint32_t>(static_cast<int32_t>(V_I1(&var.v))); return true;
    case VT_UI1: value = V_UI1(&var.v); return true;
    case VT_I2: value = static_cast<uint32_t>(static_cast<int32_t>(V_I2(&var.v))); return true;
    case VT_UI2: value = V_UI2(&var.v); return true;
    case VT_I4: value = static_cast<uint32_t>(V_I4(&var.v)); return true;
    case VT_UI4: value = V_UI4(&var.v); return true;
    case VT_INT: value = static_cast<uint32_t>(V_INT(&var.v)); return true;
    case VT_UINT: value = V_UINT(&var.v); return true;
    // Wider values count only when they fit: cut to 32 bits, 0x100000000
    // would read as 0, STATUS_OK.
    case VT_I8:
      if (V_I8(&var.v) < INT32_MIN || V_I8(&var.v) > static_cast<LONGLONG>(UINT32_MAX)) return false;
      value = static_cast<uint32_t>(V_I8(&var.v));
      return true;
    case VT_UI8:
      if (V_UI8(&var.v) > UINT32_MAX) return false;
      value = static_cast<uint32_t>(V_UI8(&var.v));
      return true;
    default: return false;
  }
}

// What one call came to beyond its status, for the log: which step stopped it
// before the method ran, or what the answer lacked.
struct CallNote {
  std::string text;
  void Set(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
  {
    char line[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (text.empty()) text = line;  // the first cause is the one that counts
  }
  std::string Suffix() const {
    return text.empty() ? std::string() : "; " + text;
  }
};

// Stores one in-parameter with the type that the method's signature gives it.
// A parameter that did not arrive must stop the call: a provider may answer a
// ReadFirmware without its offset from some other offset, or run an
// UpdateFirmware without its Buffer.
TbtStatus PutParameter(IWbemClassObject* pInParams, const wchar_t* name, VARIANT& value, CallNote& note) {
  const HRESULT hr = pInParams->Put(name, 0, &value, 0);
  VariantClear(&value);
  if (SUCCEEDED(hr)) return STATUS_OK;
  note.Set("in-parameter %ls not stored (HRESULT 0x%08lX), so the method was not executed", name,
           static_cast<unsigned long>(hr));
  return ERR_PROVIDER_FAILED;
}

VARIANT I4Variant(int32_t number) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = static_cast<LONG>(number);
  return value;
}

// The steps every method call shares: ask the run's gate, find the
// controller, fetch the class and the method's in-signature, fill a fresh
// in-parameter object, execute synchronously and take ReturnValue as the
// status. `putInParams` may refuse the call with a status of its own;
// `beforeWrite` (may be null) is the caller's last word before the method
// runs; `readOutParams` sees the out-parameters whatever ReturnValue was.
// `answer` says whether the method ran and answered. Every interface is
// released on every path.
template <class PutInParams, class ReadOutParams>
TbtStatus CallMethod(const wchar_t* method, bool hasInParams, PutInParams putInParams,
                     const TbtBeforeWrite& beforeWrite, ReadOutParams readOutParams, CallNote& note,
                     TbtWriteAnswer& answer) {
  answer = TbtWriteAnswer();
  if (TbtStatus stopped = TbtCallGateCheck()) {
    note.Set("the run is stopping, so the method was not executed");
    return stopped;
  }
  if (!g_pServices) {
    note.Set("no connection to the provider, so the method was not executed");
    return ERR_PROVIDER_FAILED;
  }
  if (g_strInstancePath.empty() && !TbtFindController()) {
    note.Set("no controller listed, so the method was not executed");
    return ERR_CONTROLLER_NOT_FOUND;
  }

  Bstr className(kClassName);
  ComRef<IWbemClassObject> pClass;
  if (!className.Get() ||
      FAILED(g_pServices->GetObject(className.Get(), 0, nullptr, pClass.GetAddressOf(), nullptr)) ||
      !pClass) {
    note.Set("class %ls not available, so the method was not executed", kClassName);
    return ERR_PROVIDER_FAILED;
  }

  // The out-signature is never asked for; without in-parameters neither is.
  ComRef<IWbemClassObject> pInSignature;
  if (FAILED(pClass->GetMethod(method, 0, hasInParams ? pInSignature.GetAddressOf() : nullptr, nullptr))) {
    note.Set("the class has no such method, so it was not executed");
    return ERR_PROVIDER_FAILED;
  }

  ComRef<IWbemClassObject> pInParams;
  if (hasInParams) {
    if (!pInSignature || FAILED(pInSignature->SpawnInstance(0, pInParams.GetAddressOf())) || !pInParams) {
      note.Set("no in-parameter object, so the method was not executed");
      return ERR_PROVIDER_FAILED;
    }
    if (TbtStatus refused = putInParams(pInParams.Get())) return refused;
  }

  Bstr path(g_strInstancePath);
  Bstr methodName(method);
  if (!path.Get() || !methodName.Get()) {
    note.Set("no memory for the call, so the method was not executed");
    return ERR_PROVIDER_FAILED;
  }
  if (beforeWrite) {
    if (TbtStatus stopped = beforeWrite()) {
      note.Set("stopped before the method was executed");
      return stopped;
    }
  }
  ComRef<IWbemClassObject> pOutParams;
  answer.executed = true;
  const HRESULT hr = g_pServices->ExecMethod(path.Get(), methodName.Get(), 0, nullptr, pInParams.Get(),
                                             pOutParams.GetAddressOf(), nullptr);
  if (FAILED(hr)) {
    note.Set("the call failed (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
    return ERR_PROVIDER_FAILED;
  }
  if (!pOutParams) {
    note.Set("no answer came back");
    return ERR_PROVIDER_FAILED;
  }

  TbtStatus status = ERR_PROVIDER_FAILED;
  uint32_t returnValue = 0;
  if (GetUint32(pOutParams.Get(), L"ReturnValue", returnValue)) {
    answer.answered = true;
    answer.returnValue = returnValue;
    status = returnValue;
    // A provider's number never speaks for this program: as itself it could
    // say that nothing was written, or that no attempt began.
    if (IsOwnOutcome(returnValue)) {
      status = ERR_PROVIDER_CODE_RESERVED;
      note.Set("the provider's ReturnValue 0x%08lX is one of this tool's own codes",
               static_cast<unsigned long>(returnValue));
    }
  } else {
    note.Set("the answer has no ReturnValue");
  }
  readOutParams(pOutParams.Get(), status);
  return status;
}

// The variant's tag is the provider's word only: the array itself must hold
// one-byte VT_UI1 elements from index 0, or each element fetched would write
// past its byte, or every byte would land one place off.
bool IsByteVector(SAFEARRAY* psa) {
  VARTYPE type = VT_EMPTY;
  LONG lower = -1;
  return psa && SafeArrayGetDim(psa) == 1 && SafeArrayGetElemsize(psa) == 1 &&
         SUCCEEDED(SafeArrayGetVartype(psa, &type)) && type == VT_UI1 &&
         SUCCEEDED(SafeArrayGetLBound(psa, 1, &lower)) && lower == 0;
}

TbtStatus NoInParams(IWbemClassObject*) {
  return STATUS_OK;
}

}  // namespace

std::wstring EscapeBackslashes(std::wstring_view source) {
  std::wstring escaped;
  escaped.reserve(source.size() + static_cast<size_t>(std::count(source.begin(), source.end(), L'\\')));
  for (wchar_t c : source) {
    escaped += c;
    if (c == L'\\') escaped += L'\\';
  }
  return escaped;
}

void TbtConnectWithServices(IWbemServices* pServices) {
  if (pServices) pServices->AddRef();
  if (g_pServices) g_pServices->Release();
  g_pServices = pServices;
  g_strInstancePath.clear();
}

bool TbtConnect() {
  if (g_pServices) return true;  // one connection per process

  IWbemLocator* pLocator = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(&pLocator))) ||
      !pLocator) {
    return false;
  }
  Bstr ns(kNamespace);
  IWbemServices* pServices = nullptr;
  const HRESULT hr =
      ns.Get() ? pLocator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &pServices)
               : E_OUTOFMEMORY;
  pLocator->Release();
  if (FAILED(hr) || !pServices) {
    if (pServices) pServices->Release();
    return false;
  }
  g_pServices = pServices;
  return true;
}

bool TbtFindController() {
  if (!g_pServices) return false;
  if (!g_strInstancePath.empty()) return true;  // found once, kept for the process

  Bstr language(L"WQL");
  Bstr query(L"select * from SdkTbtController");
  if (!language.Get() || !query.Get()) return false;
  ComRef<IEnumWbemClassObject> pEnum;
  if (FAILED(g_pServices->ExecQuery(language.Get(), query.Get(),
                                    WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                    pEnum.GetAddressOf())) ||
      !pEnum) {
    return false;
  }

  // The first instance only; later ones are never looked at.
  ComRef<IWbemClassObject> pInstance;
  ULONG returned = 0;
  if (FAILED(pEnum->Next(WBEM_INFINITE, 1, pInstance.GetAddressOf(), &returned)) || returned != 1 ||
      !pInstance)
    return false;

  Variant id;
  if (FAILED(pInstance->Get(L"ControllerId", 0, &id.v, nullptr, nullptr)) || V_VT(&id.v) != VT_BSTR ||
      !V_BSTR(&id.v)) {
    return false;
  }
  // The whole id, however long, stands between the quotes.
  std::wstring path = L"SdkTbtController.ControllerId=\"";
  path.append(V_BSTR(&id.v), SysStringLen(V_BSTR(&id.v)));
  path += L'"';
  g_strInstancePath = EscapeBackslashes(path);
  return !g_strInstancePath.empty();
}

TbtStatus TbtGetCurrentNvmVersion(uint32_t& version) {
  CallNote note;
  TbtWriteAnswer answer;
  const TbtStatus status = CallMethod(
      L"GetCurrentNvmVersion", false, NoInParams, nullptr,
      [&](IWbemClassObject* pOut, TbtStatus& status) {
        uint32_t value = 0;
        if (GetUint32(pOut, L"NvmVersion", value)) {
          version = value;
        } else if (status == STATUS_OK) {
          // Success without a version leaves nothing to compare the image with.
          status = ERR_PROVIDER_FAILED;
          note.Set("the answer has no NvmVersion");
        }
      },
      note, answer);
  // A failed call's version is nobody's to rely on, so it is not shown.
  if (status == STATUS_OK)
    RunLog("GetCurrentNvmVersion: %s, version 0x%X", StatusForLog(status).c_str(),
           static_cast<unsigned>(version));
  else
    RunLog("GetCurrentNvmVersion: %s%s", StatusForLog(status).c_str(), note.Suffix().c_str());
  return status;
}

TbtStatus TbtReadFirmware(uint32_t offset, uint32_t length, uint8_t* buffer) {
  if (!buffer && length > 0) return ERR_PROVIDER_FAILED;
  CallNote note;
  auto putInParams = [&](IWbemClassObject* pIn) -> TbtStatus {
    VARIANT value = I4Variant(static_cast<int32_t>(offset));
    if (TbtStatus status = PutParameter(pIn, L"offset", value, note)) return status;
    value = I4Variant(static_cast<int32_t>(length));
    return PutParameter(pIn, L"length", value, note);
  };
  auto readOutParams = [&](IWbemClassObject* pOut, TbtStatus& status) {
    // Staged first: a success must deliver all `length` bytes, or the caller
    // would go on to compare bytes that nobody read.
    std::vector<uint8_t> staged;
    uint32_t delivered = 0;
    Variant data;
    if (SUCCEEDED(pOut->Get(L"data", 0, &data.v, nullptr, nullptr)) && V_VT(&data.v) == (VT_ARRAY | VT_UI1) &&
        IsByteVector(V_ARRAY(&data.v))) {
      SAFEARRAY* psa = V_ARRAY(&data.v);
      LONG upper = -1;
      // No element exists past the upper bound, so the copy ends there.
      if (SUCCEEDED(SafeArrayGetUBound(psa, 1, &upper)) && upper >= 0)
        staged.assign(buffer, buffer + std::min<uint64_t>(length, static_cast<uint64_t>(upper) + 1));
      for (uint32_t i = 0; i < staged.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        if (SUCCEEDED(SafeArrayGetElement(psa, &index, &staged[i]))) ++delivered;
      }
    }
    if (status == STATUS_OK && delivered < length) {
      status = ERR_PROVIDER_FAILED;  // and nothing of the short answer is handed on
      if (V_VT(&data.v) == VT_EMPTY || V_VT(&data.v) == VT_NULL)
        note.Set("the answer has no data");
      else
        note.Set("short answer: %lu of %lu bytes", static_cast<unsigned long>(delivered),
                 static_cast<unsigned long>(length));
      return;
    }
    // A provider's own failure code still brings whatever bytes it sent.
    std::copy(staged.begin(), staged.end(), buffer);
  };
  TbtWriteAnswer answer;
  const TbtStatus status =
      CallMethod(L"ReadFirmware", true, putInParams, nullptr, readOutParams, note, answer);
  RunLog("ReadFirmware offset 0x%X, length %u: %s%s", static_cast<unsigned>(offset),
         static_cast<unsigned>(length), StatusForLog(status).c_str(), note.Suffix().c_str());
  return status;
}

TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size, const TbtBeforeWrite& beforeWrite,
                            TbtWriteAnswer& answer) {
  answer = TbtWriteAnswer();
  if (!image && size > 0) return ERR_IMAGE_UNUSABLE;
  CallNote note;
  auto putInParams = [&](IWbemClassObject* pIn) -> TbtStatus {
    VARIANT value = I4Variant(size);
    if (TbtStatus status = PutParameter(pIn, L"BufferSize", value, note)) return status;

    const LONG count = size > 0 ? size : 0;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    // Never ask the provider to write firmware without the image's bytes.
    if (!psa) {
      note.Set("no memory for the image's array, so the method was not executed");
      return ERR_OUT_OF_MEMORY;
    }
    for (LONG i = 0; i < count; ++i) {
      uint8_t byte = image[i];
      if (FAILED(SafeArrayPutElement(psa, &i, &byte))) {
        SafeArrayDestroy(psa);
        note.Set("the image's array could not be filled, so the method was not executed");
        return ERR_OUT_OF_MEMORY;
      }
    }
    // From here the variant owns the array; clearing it destroys it once.
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = psa;
    return PutParameter(pIn, L"Buffer", value, note);
  };
  const TbtStatus status = CallMethod(
      L"UpdateFirmware", true, putInParams, beforeWrite, [](IWbemClassObject*, TbtStatus&) {}, note, answer);
  RunLog("UpdateFirmware %d bytes: %s%s", static_cast<int>(size), StatusForLog(status).c_str(),
         note.Suffix().c_str());
  return status;
}
