// Simulated Windows.Foundation.Uri: its factory and the Uri it makes, which knows its text and
// its host.
//   QUIBSHARE_SIM_FAIL  createuri:HEX  CreateUri fails with HEX
// CreateUri also fails, with E_INVALIDARG, for a text without "://" (not absolute).
#include <winstring.h>

#include "sim/sim_platform.h"

namespace quibshare::sim {

namespace {

// The host as the platform's Uri reads it: the authority without user information and port,
// in lower case (the platform canonicalises it); an IPv6 literal keeps its brackets. Empty
// when the text names none ("file:///C:/a").
std::wstring HostOf(const std::wstring& text) {
  const std::size_t start = text.find(L"://") + 3;
  std::wstring host = text.substr(start, text.find_first_of(L"/?#", start) - start);
  if (const std::size_t at = host.rfind(L'@'); at != std::wstring::npos) host.erase(0, at + 1);
  const std::size_t port = host.find(L':', host.rfind(L']') == std::wstring::npos ? 0 : host.rfind(L']'));
  if (port != std::wstring::npos) host.erase(port);
  for (wchar_t& c : host) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return host;
}

class SimUri final : public ComObject<abi::IUriRuntimeClass> {
 public:
  explicit SimUri(std::wstring text) : text_(std::move(text)), host_(HostOf(text_)) {}

  HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) noexcept override { return Give(value); }
  HRESULT STDMETHODCALLTYPE get_DisplayUri(HSTRING* value) noexcept override { return Give(value); }
  HRESULT STDMETHODCALLTYPE get_RawUri(HSTRING* value) noexcept override { return Give(value); }
  HRESULT STDMETHODCALLTYPE get_Domain(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_Extension(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_Fragment(HSTRING* value) noexcept override { return None(value); }
  // As the platform answers: success, with an empty string when there is no host.
  HRESULT STDMETHODCALLTYPE get_Host(HSTRING* value) noexcept override {
    return WindowsCreateString(host_.data(), static_cast<UINT32>(host_.size()), value);
  }
  HRESULT STDMETHODCALLTYPE get_Password(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_Query(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_QueryParsed(IInspectable** value) noexcept override {
    *value = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_SchemeName(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* value) noexcept override { return None(value); }
  HRESULT STDMETHODCALLTYPE get_Port(INT32* value) noexcept override {
    *value = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Suspicious(boolean* value) noexcept override {
    *value = false;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Equals(abi::IUriRuntimeClass*, boolean* value) noexcept override {
    *value = false;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CombineUri(HSTRING, abi::IUriRuntimeClass** value) noexcept override {
    *value = nullptr;
    return E_NOTIMPL;
  }

 private:
  HRESULT Give(HSTRING* value) const {
    return WindowsCreateString(text_.data(), static_cast<UINT32>(text_.size()), value);
  }
  static HRESULT None(HSTRING* value) {
    *value = nullptr;
    return E_NOTIMPL;
  }
  std::wstring text_;
  std::wstring host_;
};

class SimUriFactory final : public ComObject<ActivationFactory, abi::IUriRuntimeClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    *instance = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateUri(HSTRING text, abi::IUriRuntimeClass** uri) noexcept override {
    *uri = nullptr;
    const std::wstring value = Text(text);
    Record(L"uri " + value);
    const std::wstring fail = Setting(L"QUIBSHARE_SIM_FAIL");
    if (ScenarioIs(fail, L"createuri")) return ScenarioCode(fail);
    if (value.find(L"://") == std::wstring::npos) return E_INVALIDARG;
    *uri = new SimUri(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWithRelativeUri(HSTRING, HSTRING, abi::IUriRuntimeClass** uri) noexcept override {
    *uri = nullptr;
    Record(L"unexpected 0 CreateWithRelativeUri");
    return E_NOTIMPL;
  }
};

}  // namespace

std::wstring UriText(abi::IUriRuntimeClass* uri) {
  HSTRING text = nullptr;
  if (uri == nullptr || FAILED(uri->get_RawUri(&text))) return L"<no uri>";
  std::wstring value = Text(text);
  WindowsDeleteString(text);
  return value;
}

HRESULT MakeUriFactory(IActivationFactory** factory) {
  *factory = new SimUriFactory;
  return S_OK;
}

}  // namespace quibshare::sim
