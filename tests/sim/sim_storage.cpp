// Simulated StorageFile: its statics, the asynchronous open driven by QUIBSHARE_SIM_STORAGE,
// and file objects that know the path they were opened for.
//   complete (or empty)   completes at once        delay:MS        completes after MS
//   never                 never completes          error:HEX       ends as Error with HEX
//   canceled              ends as Canceled         fail-start:HEX  GetFileFromPathAsync fails
//   no-file               completes with no file   no-asyncinfo    does not answer IAsyncInfo
//   status-fails:HEX      get_Status fails         cancel-fails:HEX  never completes, Cancel fails
//   empty-operation       GetFileFromPathAsync succeeds without an operation
//   null-item             completes with a file that answers IStorageItem with S_OK and null
// QUIBSHARE_SIM_STORAGE_AFTER (ms) keeps any operation running that long before it ends as above.
// QUIBSHARE_SIM_STORAGE_FOR, when set, is the file name the scenario is for: others complete.
#include <winstring.h>

#include <cwchar>
#include <string>

#include "sim/sim_platform.h"

namespace quibshare::sim {

namespace {

HRESULT MakeString(std::wstring_view text, HSTRING* result) {
  return WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), result);
}

class SimStorageFile final : public ComObject<abi::IStorageFile, abi::IStorageItem> {
 public:
  SimStorageFile(std::wstring path, bool nullItem) : path_(std::move(path)), nullItem_(nullItem) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (nullItem_ && iid == abi::IStorageItem::Iid) {
      *object = nullptr;
      return S_OK;
    }
    return ComObject::QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) noexcept override { return MakeString(path_, value); }
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) noexcept override {
    return MakeString(path_.substr(path_.find_last_of(L"\\/") + 1), value);
  }
  HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions(HSTRING, IInspectable**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RenameAsync(HSTRING, INT32, IInspectable**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions(IInspectable**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsync(INT32, IInspectable**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync(IInspectable**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Attributes(UINT32*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DateCreated(INT64*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsOfType(UINT32, boolean*) noexcept override { return E_NOTIMPL; }

 private:
  std::wstring path_;
  bool nullItem_;
};

class SimFileOperation final
    : public ComObject<abi::IAsyncOperationStorageFile, abi::IAsyncInfo> {
 public:
  SimFileOperation(std::wstring scenario, std::wstring path)
      : scenario_(std::move(scenario)), path_(std::move(path)), started_(GetTickCount64()),
        endsAfter_(std::wcstoull(Setting(L"QUIBSHARE_SIM_STORAGE_AFTER").c_str(), nullptr, 10)) {}

  HRESULT STDMETHODCALLTYPE get_Status(abi::AsyncStatus* status) noexcept override {
    if (ScenarioIs(scenario_, L"status-fails")) return ScenarioCode(scenario_);
    *status = Status();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() noexcept override {
    Record(L"cancel " + path_);
    if (ScenarioIs(scenario_, L"cancel-fails")) return ScenarioCode(scenario_);
    cancelled_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(abi::IStorageFile** results) noexcept override {
    *results = nullptr;
    switch (Status()) {
      case abi::AsyncStatus::Completed:
        if (!ScenarioIs(scenario_, L"no-file")) *results = new SimStorageFile(path_, ScenarioIs(scenario_, L"null-item"));
        return S_OK;
      case abi::AsyncStatus::Error:
        return ScenarioCode(scenario_);
      case abi::AsyncStatus::Canceled:
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
      default:
        return static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL
    }
  }
  HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) noexcept override {
    *id = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) noexcept override {
    *code = Status() == abi::AsyncStatus::Error ? ScenarioCode(scenario_) : S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Completed(IUnknown*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) noexcept override {
    *handler = nullptr;
    return S_OK;
  }

 protected:
  bool Answers(REFIID iid) const noexcept override {
    return !(iid == abi::IAsyncInfo::Iid && ScenarioIs(scenario_, L"no-asyncinfo"));
  }

 private:
  abi::AsyncStatus Status() const {
    if (cancelled_) return abi::AsyncStatus::Canceled;
    if (ScenarioIs(scenario_, L"never") || ScenarioIs(scenario_, L"cancel-fails")) {
      return abi::AsyncStatus::Started;
    }
    if (GetTickCount64() - started_ < endsAfter_) return abi::AsyncStatus::Started;
    if (ScenarioIs(scenario_, L"delay") && GetTickCount64() - started_ < ScenarioNumber(scenario_)) {
      return abi::AsyncStatus::Started;
    }
    if (ScenarioIs(scenario_, L"error")) return abi::AsyncStatus::Error;
    if (ScenarioIs(scenario_, L"canceled")) return abi::AsyncStatus::Canceled;
    return abi::AsyncStatus::Completed;
  }

  std::wstring scenario_;
  std::wstring path_;
  ULONGLONG started_;
  ULONGLONG endsAfter_;
  bool cancelled_ = false;
};

class SimStorageFileStatics final : public ComObject<ActivationFactory, abi::IStorageFileStatics> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    *instance = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path, abi::IAsyncOperationStorageFile** operation) noexcept override {
    *operation = nullptr;
    const std::wstring text = Text(path);
    const std::wstring only = Setting(L"QUIBSHARE_SIM_STORAGE_FOR");
    const bool forThis = only.empty() || text.substr(text.find_last_of(L"\\/") + 1) == only;
    const std::wstring scenario = forThis ? Setting(L"QUIBSHARE_SIM_STORAGE") : L"complete";
    Record(L"open " + text);
    if (ScenarioIs(scenario, L"fail-start")) return ScenarioCode(scenario);
    if (scenario == L"empty-operation") return S_OK;
    *operation = new SimFileOperation(scenario, text);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFileFromApplicationUriAsync(IInspectable*, abi::IAsyncOperationStorageFile**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateStreamedFileAsync(HSTRING, IUnknown*, IInspectable*, abi::IAsyncOperationStorageFile**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReplaceWithStreamedFileAsync(abi::IStorageFile*, IUnknown*, IInspectable*, abi::IAsyncOperationStorageFile**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateStreamedFileFromUriAsync(HSTRING, IInspectable*, IInspectable*, abi::IAsyncOperationStorageFile**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReplaceWithStreamedFileFromUriAsync(abi::IStorageFile*, IInspectable*, IInspectable*, abi::IAsyncOperationStorageFile**) noexcept override { return E_NOTIMPL; }
};

}  // namespace

HRESULT MakeStorageFileStatics(IActivationFactory** factory) {
  *factory = new SimStorageFileStatics;
  return S_OK;
}

}  // namespace quibshare::sim
