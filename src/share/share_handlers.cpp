// The delegates of a share session. Called by the platform on any thread; each contains its
// failures and reports success.
#include "share/share_handlers.h"

#include "share/com_object.h"
#include "share/hstring.h"
#include "share/share_session.h"

namespace quibshare {

namespace {

// Reads the target the sheet reports; none when it gives none or cannot say.
std::wstring ShareTargetOf(abi::IShareCompletedEventArgs* args) {
  if (args == nullptr) return {};
  ComPtr<abi::IShareTargetInfo> target;
  if (FAILED(args->get_ShareTarget(target.Put())) || !target) return {};
  UniqueHString id;
  if (FAILED(target->get_AppUserModelId(id.Put()))) return {};
  return std::wstring(HStringText(id.Get()));
}

// Reports the end of the share when the sheet says the share completed or was canceled.
class ShareFinishedHandler final
    : public ComObject<abi::IShareCompletedHandler, abi::IShareCanceledHandler> {
 public:
  explicit ShareFinishedHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, abi::IShareCompletedEventArgs* args) noexcept override {
    std::wstring target;
    try {
      target = ShareTargetOf(args);
    } catch (...) {
      // The share completed all the same; only its target is unknown.
    }
    session_->End().Finish(ShareEnd::Completed, std::move(target));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, IInspectable*) noexcept override {
    session_->End().Finish(ShareEnd::Canceled, {});
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
};

class TargetChosenHandler final : public ComObject<abi::ITargetApplicationChosenHandler> {
 public:
  explicit TargetChosenHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::ITargetApplicationChosenEventArgs* args) noexcept override {
    UniqueHString name;
    if (args == nullptr || FAILED(args->get_ApplicationName(name.Put()))) return S_OK;
    try {
      session_->End().ChooseApplication(std::wstring(HStringText(name.Get())));
    } catch (...) {
      // Too little memory for the name: the outcome goes without it.
    }
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
};

class DataRequestHandler final : public ComObject<abi::IDataRequestedHandler> {
 public:
  explicit DataRequestHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::IDataRequestedEventArgs* args) noexcept override {
    session_->Serve(args);
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
};

}  // namespace

ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::IDataRequestedHandler>::Attach(new DataRequestHandler(std::move(session)));
}

ComPtr<abi::ITargetApplicationChosenHandler> MakeTargetChosenHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::ITargetApplicationChosenHandler>::Attach(new TargetChosenHandler(std::move(session)));
}

ComPtr<abi::IShareCompletedHandler> MakeShareCompletedHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::IShareCompletedHandler>::Attach(new ShareFinishedHandler(std::move(session)));
}

ComPtr<abi::IShareCanceledHandler> MakeShareCanceledHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::IShareCanceledHandler>::Attach(new ShareFinishedHandler(std::move(session)));
}

}  // namespace quibshare
