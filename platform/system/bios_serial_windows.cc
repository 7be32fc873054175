#include "platform/system/bios_serial.h"

// WMI through its COM interfaces: the locator connects to ROOT\CIMV2, a
// forward-only query yields the one Win32_BIOS object, whose SerialNumber
// is read.

#include <windows.h>

#include <oleauto.h>
#include <wbemidl.h>

#include <string_view>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

// How long the query's answer is waited for; WMI may hang on a broken
// repository and the caller is the service thread.
constexpr long kAnswerTimeoutMs = 5000;

[[noreturn]] void Fail(const char* step, HRESULT result) {
  throw BiosSerialError(std::string("BIOS serial number: ") + step + ": " +
                        SystemErrorText(static_cast<uint32_t>(result)));
}

// Holds one reference to a COM object and releases it.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (object_ != nullptr) object_->Release();
  }
  T** Out() { return &object_; }
  T* operator->() const { return object_; }
  T* get() const { return object_; }

 private:
  T* object_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text_); }
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

// COM on this thread for the time of one read. A thread that already has
// its apartment (of the other kind) keeps it; COM serves it all the same.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
    if (FAILED(result_) && result_ != RPC_E_CHANGED_MODE) Fail("COM", result_);
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }

 private:
  HRESULT result_;
};

std::string TextOf(BSTR text) {
  return text == nullptr ? std::string() : Utf8FromWide(std::wstring_view(text, SysStringLen(text)));
}

// A scalar becomes its text, an array "~" before each element's text;
// null, and what has no text, give nothing.
std::string ValueText(VARIANT* value) {
  if ((value->vt & VT_ARRAY) != 0) {
    SAFEARRAY* array = value->parray;
    LONG lower = 0;
    LONG upper = -1;
    if ((value->vt & VT_TYPEMASK) != VT_BSTR || array == nullptr ||
        SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
      return "";
    }
    std::string text;
    for (LONG i = lower; i <= upper; ++i) {
      BSTR element = nullptr;
      if (FAILED(SafeArrayGetElement(array, &i, &element))) continue;
      text += "~" + TextOf(element);
      SysFreeString(element);
    }
    return text;
  }
  if (value->vt == VT_EMPTY || value->vt == VT_NULL) return "";
  if (value->vt != VT_BSTR && FAILED(VariantChangeType(value, value, 0, VT_BSTR))) return "";
  return TextOf(value->bstrVal);
}

}  // namespace

void SystemBiosSerial::Read(std::string* text) const {
  text->clear();
  ComApartment apartment;
  ComRef<IWbemLocator> locator;
  HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, reinterpret_cast<void**>(locator.Out()));
  if (FAILED(result)) Fail("WMI locator", result);
  ComRef<IWbemServices> services;
  result = locator->ConnectServer(Bstr(L"ROOT\\CIMV2").get(), nullptr, nullptr, nullptr, 0,
                                  nullptr, nullptr, services.Out());
  if (FAILED(result)) Fail("WMI connection", result);
  // The calls go out as this process, whatever the process's COM security.
  result = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                             EOAC_NONE);
  if (FAILED(result)) Fail("WMI security", result);
  ComRef<IEnumWbemClassObject> objects;
  result = services->ExecQuery(Bstr(L"WQL").get(),
                               Bstr(L"SELECT SerialNumber FROM Win32_BIOS").get(),
                               WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                               objects.Out());
  if (FAILED(result)) Fail("WMI query", result);
  ComRef<IWbemClassObject> bios;
  ULONG count = 0;
  result = objects->Next(kAnswerTimeoutMs, 1, bios.Out(), &count);
  if (result == WBEM_S_TIMEDOUT) {
    throw BiosSerialError("BIOS serial number: WMI query: no answer within 5 seconds");
  }
  if (FAILED(result)) Fail("WMI query", result);
  if (count == 0) return;  // no BIOS object: no serial number
  VARIANT value;
  VariantInit(&value);
  // A property that cannot be read is no serial number, not a failure.
  if (SUCCEEDED(bios->Get(L"SerialNumber", 0, &value, nullptr, nullptr))) {
    *text = ValueText(&value);
  }
  VariantClear(&value);
}

}  // namespace quarrin
