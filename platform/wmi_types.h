// The COM and management-event types the core names (IUnknown,
// IWbemObjectSink, IWbemClassObject, IWbemLocator, IWbemServices,
// IUnsecuredApartment, VARIANT, BSTR, HRESULT, GUID): the SDK's on Windows,
// our own declarations of the same shapes on Linux. The numbers and ids the
// core uses stand here once, in namespace platform, for both builds.
#pragma once

#if defined(_WIN32)
#include "platform/win32/wmi_types.h"
#else
#include "platform/posix/com/wmi_types.h"
#endif

#include <cstdint>
#include <cstring>
#include <string_view>

namespace platform {

constexpr HRESULT ToHResult(std::uint32_t code) { return static_cast<HRESULT>(code); }
constexpr bool Failed(HRESULT result) { return result < 0; }

// Results.
constexpr HRESULT kSOk = 0;
constexpr HRESULT kSFalse = 1;  // already initialised on this thread
constexpr HRESULT kRpcEChangedMode = ToHResult(0x80010106u);
constexpr HRESULT kENotImpl = ToHResult(0x80004001u);
constexpr HRESULT kENoInterface = ToHResult(0x80004002u);
constexpr HRESULT kEPointer = ToHResult(0x80004003u);
constexpr HRESULT kEFail = ToHResult(0x80004005u);
constexpr HRESULT kEOutOfMemory = ToHResult(0x8007000Eu);
constexpr HRESULT kEInvalidArg = ToHResult(0x80070057u);
constexpr HRESULT kRpcEWrongThread = ToHResult(0x8001010Eu);
constexpr HRESULT kRpcETooLate = ToHResult(0x80010119u);
constexpr HRESULT kCoENotInitialized = ToHResult(0x800401F0u);
constexpr HRESULT kRegdbEClassNotReg = ToHResult(0x80040154u);
constexpr HRESULT kDispETypeMismatch = ToHResult(0x80020005u);
constexpr HRESULT kDispEOverflow = ToHResult(0x8002000Au);
constexpr HRESULT kWbemSNoError = 0;
constexpr HRESULT kWbemEFailed = ToHResult(0x80041001u);
constexpr HRESULT kWbemENotFound = ToHResult(0x80041002u);
constexpr HRESULT kWbemEInvalidParameter = ToHResult(0x80041008u);
constexpr HRESULT kWbemENotSupported = ToHResult(0x8004100Cu);
constexpr HRESULT kWbemEInvalidNamespace = ToHResult(0x8004100Eu);
constexpr HRESULT kWbemEInvalidQuery = ToHResult(0x80041017u);
constexpr HRESULT kWbemEInvalidQueryType = ToHResult(0x80041018u);
constexpr HRESULT kWbemECallCancelled = ToHResult(0x80041032u);

// Arguments.
constexpr DWORD kClsctxInprocServer = 0x1;
constexpr DWORD kClsctxLocalServer = 0x4;
constexpr DWORD kRpcCAuthnLevelDefault = 0;
constexpr DWORD kRpcCAuthnLevelCall = 3;
constexpr DWORD kRpcCImpLevelImpersonate = 3;
constexpr DWORD kRpcCAuthnWinnt = 10;
constexpr DWORD kRpcCAuthzNone = 0;
constexpr DWORD kEoacNone = 0;
constexpr LONG kWbemFlagSendStatus = 0x80;
constexpr LONG kWbemStatusComplete = 0;

// Variant types.
constexpr VARTYPE kVtEmpty = 0;
constexpr VARTYPE kVtI4 = 3;
constexpr VARTYPE kVtBstr = 8;
constexpr VARTYPE kVtUint = 23;

// Class and interface ids.
inline constexpr IID kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidIWbemObjectSink = {0x7C857801, 0x7381, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
inline constexpr IID kIidIWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
inline constexpr IID kIidIWbemServices = {0x9556DC99, 0x828C, 0x11CF, {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};
inline constexpr IID kIidIWbemClassObject = {0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
inline constexpr IID kIidIUnsecuredApartment = {0x1CFABA8C, 0x1523, 0x11D1, {0xAD, 0x79, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
inline constexpr CLSID kClsidWbemAdministrativeLocator = {0xCB8555CC, 0x9128, 0x11D1, {0xAD, 0x9B, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};
inline constexpr CLSID kClsidUnsecuredApartment = {0x49BD2028, 0x1523, 0x11D1, {0xAD, 0x79, 0x00, 0xC0, 0x4F, 0xD8, 0xFD, 0xFF}};

// The ids are equal in all 16 bytes.
inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// BSTR strings: a length prefix, the UTF-16 characters and a terminating
// zero, made and freed by the platform's string allocator.
// A new string with the given text; null when out of memory. Any thread.
BSTR AllocBstr(std::u16string_view text);
// Frees a string from AllocBstr (or one the platform handed over); null is ignored.
void FreeBstr(BSTR text);
// The characters of a string, without its terminating zero; empty for null.
std::u16string_view BstrText(const OLECHAR* text);

// Owns one BSTR and frees it at its end.
class ScopedBstr {
 public:
  explicit ScopedBstr(std::u16string_view text) : mText(AllocBstr(text)) {}
  ~ScopedBstr() { FreeBstr(mText); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  // Valid while this owner lives; null when the allocation failed.
  BSTR Get() const { return mText; }

 private:
  BSTR mText;
};

}  // namespace platform
