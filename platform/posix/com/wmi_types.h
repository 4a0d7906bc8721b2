// The COM and management interfaces on Linux: small declarations of our own
// with the shapes the Windows SDK gives them (names, argument lists, and the
// order of the operations this system uses within each interface), so that
// the core implements and calls them the same way in both builds. Included
// through platform/wmi_types.h only.
#pragma once

#include <cstdint>

// No calling convention of its own on Linux.
#define STDMETHODCALLTYPE

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using USHORT = std::uint16_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using CIMTYPE = LONG;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;  // length-prefixed, from platform::AllocBstr
using LPCWSTR = const OLECHAR*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// A tagged value as COM passes it. `vt` says which member holds the value.
struct VARIANT {
  VARTYPE vt;
  std::uint16_t wReserved1;
  std::uint16_t wReserved2;
  std::uint16_t wReserved3;
  union {
    std::int32_t lVal;
    std::uint32_t uintVal;
    BSTR bstrVal;
  };
};

struct IWbemContext;
struct IWbemQualifierSet;

// Objects free themselves in Release; nobody deletes them through an interface.
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IWbemClassObject : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** ppQualSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                                        LONG* plFlavor) = 0;

 protected:
  ~IWbemClassObject() = default;
};

struct IWbemObjectSink : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                                              IWbemClassObject* pObjParam) = 0;

 protected:
  ~IWbemObjectSink() = default;
};

struct IWbemServices : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* pSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery,
                                                               LONG lFlags, IWbemContext* pCtx,
                                                               IWbemObjectSink* pResponseHandler) = 0;

 protected:
  ~IWbemServices() = default;
};

struct IWbemLocator : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                                  const BSTR strPassword, const BSTR strLocale, LONG lSecurityFlags,
                                                  const BSTR strAuthority, IWbemContext* pCtx,
                                                  IWbemServices** ppNamespace) = 0;

 protected:
  ~IWbemLocator() = default;
};

struct IUnsecuredApartment : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateObjectStub(IUnknown* pObject, IUnknown** ppStub) = 0;

 protected:
  ~IUnsecuredApartment() = default;
};
