// The COM objects of the simulated Thunderbolt provider: a WMI locator that
// connects only to ROOT\Intel\Thunderbolt, a services object serving the
// SdkTbtController class, its enumerator and a property-bag class object used
// for classes, instances, method signatures and out-parameters.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/standins/provider/sim_config.h"

// Live COM objects of this module, for DllCanUnloadNow.
extern LONG g_simObjects;

// A VARIANT that owns its contents.
class SimVariant {
 public:
  SimVariant() { VariantInit(&v_); }
  SimVariant(const SimVariant& other) : SimVariant() { VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); }
  SimVariant& operator=(const SimVariant& other) {
    if (this != &other) VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
    return *this;
  }
  ~SimVariant() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }

 private:
  VARIANT v_;
};

class SimObject final : public IWbemClassObject {
 public:
  // A class definition (genus 1) or an instance of one (genus 2).
  static SimObject* NewClass(const std::wstring& name);
  static SimObject* NewInstance(const std::wstring& className);

  // Defines a property with its CIM type; the value starts as VT_NULL.
  void Define(const std::wstring& name, CIMTYPE type);
  // Sets a value without the type checks that Put makes (for the provider itself).
  void Set(const std::wstring& name, const VARIANT& value);
  // Adds a method to a class; the signatures may be null. Takes the references.
  void AddMethod(const std::wstring& name, SimObject* in, SimObject* out);
  const std::wstring& ClassName() const { return className_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IWbemClassObject
  STDMETHODIMP GetQualifierSet(IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) override;
  STDMETHODIMP Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
  STDMETHODIMP Delete(LPCWSTR wszName) override;
  STDMETHODIMP GetNames(LPCWSTR wszQualifierName, LONG lFlags, VARIANT* pQualifierVal,
                        SAFEARRAY** pNames) override;
  STDMETHODIMP BeginEnumeration(LONG lEnumFlags) override;
  STDMETHODIMP Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) override;
  STDMETHODIMP EndEnumeration() override;
  STDMETHODIMP GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP Clone(IWbemClassObject** ppCopy) override;
  STDMETHODIMP GetObjectText(LONG lFlags, BSTR* pstrObjectText) override;
  STDMETHODIMP SpawnDerivedClass(LONG lFlags, IWbemClassObject** ppNewClass) override;
  STDMETHODIMP SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
  STDMETHODIMP CompareTo(LONG lFlags, IWbemClassObject* pCompareTo) override;
  STDMETHODIMP GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) override;
  STDMETHODIMP InheritsFrom(LPCWSTR strAncestor) override;
  STDMETHODIMP GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                         IWbemClassObject** ppOutSignature) override;
  STDMETHODIMP PutMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject* pInSignature,
                         IWbemClassObject* pOutSignature) override;
  STDMETHODIMP DeleteMethod(LPCWSTR wszName) override;
  STDMETHODIMP BeginMethodEnumeration(LONG lEnumFlags) override;
  STDMETHODIMP NextMethod(LONG lFlags, BSTR* pstrName, IWbemClassObject** ppInSignature,
                          IWbemClassObject** ppOutSignature) override;
  STDMETHODIMP EndMethodEnumeration() override;
  STDMETHODIMP GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) override;
  STDMETHODIMP GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) override;

  // Where Put and SpawnInstance calls are recorded (empty: not recorded).
  // Reaches the method signatures too, so the in-parameter objects record their Puts.
  void SetRecordDir(const std::wstring& dir);
  // The in-parameter whose Put fails (empty: none); reaches the signatures too.
  void SetFailPut(const std::wstring& name);

 private:
  struct Property {
    std::wstring name;
    CIMTYPE type = CIM_EMPTY;
    SimVariant value;
  };
  struct Method {
    std::wstring name;
    SimObject* in = nullptr;
    SimObject* out = nullptr;
  };

  SimObject(const std::wstring& className, bool isClass);
  ~SimObject();
  Property* Find(const std::wstring& name);
  SimObject* Copy() const;

  LONG refs_ = 1;
  std::wstring className_;
  bool isClass_;
  std::vector<Property> props_;
  std::vector<Method> methods_;
  size_t enumPos_ = 0;
  bool enumerating_ = false;
  std::wstring recordDir_;
  std::wstring failPut_;
};

class SimEnum final : public IEnumWbemClassObject {
 public:
  // Takes the references of `objects`.
  SimEnum(std::vector<SimObject*> objects, std::wstring recordDir);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Reset() override;
  STDMETHODIMP Next(LONG lTimeout, ULONG uCount, IWbemClassObject** apObjects, ULONG* puReturned) override;
  STDMETHODIMP NextAsync(ULONG uCount, IWbemObjectSink* pSink) override;
  STDMETHODIMP Clone(IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP Skip(LONG lTimeout, ULONG nCount) override;

 private:
  ~SimEnum();
  LONG refs_ = 1;
  std::vector<SimObject*> objects_;
  size_t pos_ = 0;
  std::wstring recordDir_;
};

class SimServices final : public IWbemServices {
 public:
  explicit SimServices(std::shared_ptr<const SimConfig> config);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP OpenNamespace(const BSTR strNamespace, LONG lFlags, IWbemContext* pCtx,
                             IWbemServices** ppWorkingNamespace, IWbemCallResult** ppResult) override;
  STDMETHODIMP CancelAsyncCall(IWbemObjectSink* pSink) override;
  STDMETHODIMP QueryObjectSink(LONG lFlags, IWbemObjectSink** ppResponseHandler) override;
  STDMETHODIMP GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                         IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override;
  STDMETHODIMP GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                              IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP PutClass(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                        IWbemCallResult** ppCallResult) override;
  STDMETHODIMP PutClassAsync(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                             IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP DeleteClass(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                           IWbemCallResult** ppCallResult) override;
  STDMETHODIMP DeleteClassAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP CreateClassEnum(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                               IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP CreateClassEnumAsync(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                                    IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP PutInstance(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                           IWbemCallResult** ppCallResult) override;
  STDMETHODIMP PutInstanceAsync(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                                IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP DeleteInstance(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                              IWbemCallResult** ppCallResult) override;
  STDMETHODIMP DeleteInstanceAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                   IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP CreateInstanceEnum(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                  IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP CreateInstanceEnumAsync(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                       IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags, IWbemContext* pCtx,
                         IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP ExecQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                              IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecNotificationQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                     IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                          IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags, IWbemContext* pCtx,
                          IWbemClassObject* pInParams, IWbemClassObject** ppOutParams,
                          IWbemCallResult** ppCallResult) override;
  STDMETHODIMP ExecMethodAsync(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                               IWbemContext* pCtx, IWbemClassObject* pInParams,
                               IWbemObjectSink* pResponseHandler) override;

 private:
  ~SimServices();
  std::vector<SimObject*> ListInstances() const;
  std::wstring InstanceId(uint32_t index) const;
  HRESULT RunGetCurrentNvmVersion(SimObject* out, std::string& note);
  HRESULT RunReadFirmware(IWbemClassObject* in, SimObject* out, std::string& note);
  HRESULT RunUpdateFirmware(IWbemClassObject* in, SimObject* out, std::string& note);
  // Has the stand-in service write the image; the call's ReturnValue.
  uint32_t HandToService(const uint8_t* bytes, uint32_t size, std::string& note);

  LONG refs_ = 1;
  LONG readCalls_ = 0;  // ReadFirmware executions so far
  std::shared_ptr<const SimConfig> config_;
};

class SimLocator final : public IWbemLocator {
 public:
  SimLocator();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP ConnectServer(const BSTR strNetworkResource, const BSTR strUser, const BSTR strPassword,
                             const BSTR strLocale, LONG lSecurityFlags, const BSTR strAuthority,
                             IWbemContext* pCtx, IWbemServices** ppNamespace) override;

 private:
  ~SimLocator();
  LONG refs_ = 1;
};

// The SdkTbtController class definition with its three methods.
SimObject* SimNewControllerClass();
