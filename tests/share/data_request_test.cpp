// HandleDataRequest and EventRegistration in this process, against requests and packages made
// by the simulated share sheet (loaded from beside this test).
#include "share/data_request.h"

#include <gtest/gtest.h>

#include "harness/sim_session.h"
#include "share/com_object.h"
#include "worker/file_acquisition.h"

namespace quibshare {
namespace {

template <typename Proc>
Proc SimExport(const char* name) {
  const HMODULE sim = LoadLibraryW(L"Windows.ApplicationModel.DataTransfer.dll");
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(sim, name)));
}

void EndShare(const ComPtr<abi::IDataPackage>& package, bool canceled) {
  SimExport<void (*)(abi::IDataPackage*, BOOL)>("SimEndShare")(package.Get(), canceled);
}

ComPtr<abi::IDataRequestedEventArgs> MakeRequest(int number, bool withPackage4) {
  using MakeRequestProc = HRESULT (*)(int, BOOL, abi::IDataRequestedEventArgs**);
  const auto make = SimExport<MakeRequestProc>("SimMakeDataRequest");
  ComPtr<abi::IDataRequestedEventArgs> args;
  if (make != nullptr) make(number, withPackage4, args.Put());
  return args;
}

TEST(FileNameComponent, TakesTheLastComponentAfterAnyRoot) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"C:\\Users\\me\\report.final.pdf", L"report.final.pdf"},
      {L"C:/Users/me/report.final.pdf", L"report.final.pdf"},
      {L"C:\\Users/me\\mixed.txt", L"mixed.txt"},
      {L"C:report.txt", L"report.txt"},
      {L"C:\\", L""},
      {L"C:", L""},
      {L"C:\\dir\\", L""},
      {L"C:\\dir/", L""},
      {L"\\\\server\\share\\dir\\file.txt", L"file.txt"},
      {L"//server/share/file.txt", L"file.txt"},
      {L"\\\\server", L""},
      {L"\\\\server\\", L""},
      {L"\\\\?\\C:\\dir\\file.txt", L"file.txt"},
      {L"\\\\?\\", L""},
      {L"\\\\.\\pipe\\name", L"name"},
      {L"\\\\.\\", L""},
      {L"\\??\\C:\\x.bin", L"x.bin"},
      {L"\\??\\", L""},
      {L"/", L""},
      {L"", L""},
      {L"name-only.txt", L"name-only.txt"},
      {L"C:\\dir\\.hidden", L".hidden"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileNameComponent(c.path), c.name) << c.path;
}

class DataRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Set(L"STORAGE", L"complete");
    storageFile_ = AcquireStorageFile(path_);
    ASSERT_TRUE(storageFile_);
  }

  test::SimSession sim_{test::SimScope::ThisProcess};
  std::wstring path_ = sim_.Folder().WriteFile(L"report.final.pdf");
  ComPtr<abi::IStorageFile> storageFile_;
  ComPtr<abi::IDataPackage> dataPackage_;
  EventRegistration shareCompletedRegistration_;
  std::shared_ptr<std::atomic<bool>> shareFinished_ = std::make_shared<std::atomic<bool>>(false);
  EventRegistration shareCanceledRegistration_;
  std::atomic<bool> dataRequested_{false};
  std::atomic<HRESULT> handlerFailure_{S_OK};
  int readyCalls_ = 0;
  std::function<void()> onReady_ = [this] {
    ++readyCalls_;
    // Only once everything is in place may the broker hear that the sheet is up.
    EXPECT_TRUE(dataRequested_.load());
    EXPECT_TRUE(shareCompletedRegistration_);
    EXPECT_TRUE(shareCanceledRegistration_);
  };
  DataRequestBinding binding_{path_, storageFile_, dataPackage_, shareCompletedRegistration_,
                              shareFinished_, shareCanceledRegistration_, dataRequested_, handlerFailure_,
                              onReady_};
};

TEST_F(DataRequest, GivesTheFileUnderItsNameAndSignalsOnce) {
  const ComPtr<abi::IDataRequestedEventArgs> request = MakeRequest(1, true);
  HandleDataRequest(binding_, request.Get());
  EXPECT_TRUE(dataRequested_.load());
  EXPECT_EQ(readyCalls_, 1);
  EXPECT_TRUE(dataPackage_);
  EXPECT_EQ(sim_.Record(L"title"), std::vector<std::wstring>{L"title 1 report.final.pdf"});
  EXPECT_EQ(sim_.Record(L"SetStorageItems"), std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + path_});
  EXPECT_EQ(sim_.Subscribed(), (std::vector<std::wstring>{L"ShareCanceled 1 2", L"ShareCompleted 1 1"}));
  EXPECT_EQ(sim_.Record(L"unexpected"), std::vector<std::wstring>{});
}

TEST_F(DataRequest, EmptyOnReadyStillSetsTheFlag) {
  onReady_ = nullptr;
  HandleDataRequest(binding_, MakeRequest(1, true).Get());
  EXPECT_TRUE(dataRequested_.load());
}

TEST_F(DataRequest, PackageWithoutShareCanceledFailsQuietlyAfterPlacingTheFile) {
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding_);
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, false).Get()), S_OK);
  EXPECT_FALSE(dataRequested_.load());
  EXPECT_EQ(readyCalls_, 0);
  EXPECT_TRUE(dataPackage_) << "what was done before the failure stays done";
  EXPECT_TRUE(shareCompletedRegistration_);
  EXPECT_FALSE(shareCanceledRegistration_);
  EXPECT_EQ(sim_.Record(L"SetStorageItems"), std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + path_});
}

TEST_F(DataRequest, SecondRequestReplacesTheFirstPackagesSubscriptions) {
  const ComPtr<abi::IDataRequestedEventArgs> first = MakeRequest(1, true);
  const ComPtr<abi::IDataRequestedEventArgs> second = MakeRequest(2, true);
  HandleDataRequest(binding_, first.Get());
  HandleDataRequest(binding_, second.Get());
  EXPECT_EQ(readyCalls_, 2);
  EXPECT_EQ(sim_.Subscribed(), (std::vector<std::wstring>{L"ShareCanceled 2 2", L"ShareCompleted 2 1"}));
  shareCanceledRegistration_.Revoke();
  shareCompletedRegistration_.Revoke();
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"remove-unknown"), std::vector<std::wstring>{});
}

TEST_F(DataRequest, RegistrationRevokesOnlyWhileThePackageLives) {
  ComPtr<abi::IDataRequestedEventArgs> request = MakeRequest(1, true);
  HandleDataRequest(binding_, request.Get());
  ASSERT_EQ(sim_.Subscribed().size(), 2u);
  // Registrations hold the package weakly: once the rest let go, it is gone.
  request.Reset();
  dataPackage_.Reset();
  shareCanceledRegistration_.Revoke();
  shareCompletedRegistration_ = EventRegistration();
  EXPECT_FALSE(shareCanceledRegistration_);
  EXPECT_EQ(sim_.Record(L"remove"), std::vector<std::wstring>{});
}

TEST_F(DataRequest, EitherEndOfTheShareSetsTheFlag) {
  for (const bool canceled : {false, true}) {
    const auto flag = std::make_shared<std::atomic<bool>>(false);
    shareFinished_ = flag;
    HandleDataRequest(binding_, MakeRequest(1, true).Get());
    const ComPtr<abi::IDataPackage> package = dataPackage_;
    EXPECT_FALSE(flag->load());
    EndShare(package, canceled);
    EXPECT_TRUE(flag->load()) << canceled;
  }
}

TEST_F(DataRequest, LateEndOfShareOnlyTouchesTheHandlersOwnFlag) {
  HandleDataRequest(binding_, MakeRequest(1, true).Get());
  const ComPtr<abi::IDataPackage> package = dataPackage_;
  const std::weak_ptr<std::atomic<bool>> flag = shareFinished_;
  // ShareFile has ended: its own share of the flag is gone, the handlers' remains.
  shareFinished_ = nullptr;
  ASSERT_FALSE(flag.expired());
  EndShare(package, false);
  EXPECT_TRUE(flag.lock()->load());
}

TEST(AgileHandlers, AnswerIAgileObjectAndTheFreeThreadedMarshaler) {
  const std::wstring path;
  const ComPtr<abi::IStorageFile> file;
  ComPtr<abi::IDataPackage> package;
  EventRegistration completed;
  EventRegistration canceled;
  const auto finished = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> requested{false};
  std::atomic<HRESULT> failure{S_OK};
  const std::function<void()> onReady;
  const DataRequestBinding binding{path, file, package, completed, finished, canceled, requested, failure, onReady};
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding);
  ComPtr<abi::IAgileObject> agile;
  EXPECT_EQ(handler.As(agile), S_OK);
  ComPtr<IUnknown> marshal;
  EXPECT_EQ(handler->QueryInterface(MarshalIid, marshal.PutVoid()), S_OK);
  ComPtr<abi::IDataTransferManager> notAHandler;
  EXPECT_EQ(handler.As(notAHandler), E_NOINTERFACE);
}

}  // namespace
}  // namespace quibshare
