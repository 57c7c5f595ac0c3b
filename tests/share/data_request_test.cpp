// HandleDataRequest and EventRegistration in this process, against requests and packages made
// by the simulated share sheet (loaded from beside this test).
#include "share/data_request.h"

#include <gtest/gtest.h>

#include "harness/sim_session.h"
#include "share/activation.h"
#include "share/com_object.h"
#include "share/hstring.h"
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

TEST(DefaultSheetTitle, IsTheFileNameForOneFileAndACountForMore) {
  EXPECT_EQ(DefaultSheetTitle({L"C:\\Users\\me\\report.final.pdf"}), L"report.final.pdf");
  EXPECT_EQ(DefaultSheetTitle({L"C:\\a.txt", L"C:\\b.txt"}), L"2 files");
  EXPECT_EQ(DefaultSheetTitle(std::vector<std::wstring>(100, L"C:\\a.txt")), L"100 files");
}

class DataRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Set(L"STORAGE", L"complete");
    storageFiles_ = AcquireStorageFiles({path_});
    ASSERT_TRUE(storageFiles_.front());
  }

  test::SimSession sim_{test::SimScope::ThisProcess};
  std::wstring path_ = sim_.Folder().WriteFile(L"report.final.pdf");
  std::wstring title_ = L"report.final.pdf";
  std::wstring text_;
  ComPtr<abi::IUriRuntimeClass> webLink_;
  std::vector<ComPtr<abi::IStorageFile>> storageFiles_;
  ComPtr<abi::IDataPackage> dataPackage_;
  EventRegistration shareCompletedRegistration_;
  std::shared_ptr<ShareEndState> shareEnd_ = std::make_shared<ShareEndState>();
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
  DataRequestBinding binding_{title_,        text_,           webLink_,        storageFiles_,
                              dataPackage_,  shareCompletedRegistration_,       shareEnd_,
                              shareCanceledRegistration_,       dataRequested_,  handlerFailure_,
                              onReady_};
};

// Several files with a title, a text and a link: all of it reaches the package, the files in
// the order given.
TEST_F(DataRequest, GivesTheTitleTextLinkAndEveryFileInOrder) {
  const std::wstring second = sim_.Folder().WriteFile(L"second.txt");
  storageFiles_ = AcquireStorageFiles({second, path_, second});
  title_ = L"Quarterly \"numbers\"";
  text_ = L"Caf\x00E9 & \x4E2D \"quoted\"";
  const auto uris = GetActivationFactory<abi::IUriRuntimeClassFactory>(L"Windows.Foundation.Uri");
  ASSERT_EQ(uris->CreateUri(MakeHString(L"https://example.com/q?x=1").Get(), webLink_.Put()), S_OK);
  HandleDataRequest(binding_, MakeRequest(1, true).Get());
  EXPECT_EQ(readyCalls_, 1);
  EXPECT_EQ(sim_.Record(L"title"), std::vector<std::wstring>{L"title 1 Quarterly \"numbers\""});
  EXPECT_EQ(sim_.Record(L"text"), std::vector<std::wstring>{L"text 1 Caf\x00E9 & \x4E2D \"quoted\""});
  EXPECT_EQ(sim_.Record(L"weblink"), std::vector<std::wstring>{L"weblink 1 https://example.com/q?x=1"});
  EXPECT_EQ(sim_.Record(L"SetStorageItems"),
            std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + second + L" " + path_ + L" " + second});
  EXPECT_EQ(sim_.Record(L"unexpected"), std::vector<std::wstring>{});
}

// Each getter on the way may succeed and give nothing: the request fails with E_POINTER, the
// first failure is the one kept, and the platform still hears success.
TEST_F(DataRequest, AFailedRequestKeepsItsFirstCode) {
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding_);
  for (const wchar_t* fail : {L"empty-request", L"empty-data", L"empty-properties"}) {
    handlerFailure_ = S_OK;
    sim_.Set(L"FAIL", fail);
    EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, true).Get()), S_OK) << fail;
    EXPECT_EQ(handlerFailure_.load(), E_POINTER) << fail;
  }
  sim_.Set(L"FAIL", L"");
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(2, false).Get()), S_OK);
  EXPECT_EQ(handlerFailure_.load(), E_POINTER) << "a later failure must not replace the first";
  EXPECT_FALSE(dataRequested_.load());
  EXPECT_EQ(readyCalls_, 0);
}

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

TEST_F(DataRequest, PackageWithoutShareCanceledFailsAfterPlacingTheFile) {
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding_);
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, false).Get()), S_OK);
  EXPECT_FALSE(dataRequested_.load());
  EXPECT_EQ(handlerFailure_.load(), E_NOINTERFACE);
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

// Completion carries the sheet's target when it gives one; the first end reported is the one
// that counts.
TEST_F(DataRequest, EachEndOfTheShareIsToldAsItCame) {
  struct Case {
    bool canceled;
    const wchar_t* target;
    ShareOutcome outcome;
  };
  const Case cases[] = {
      {false, L"Mail_8wekyb3d8bbwe!App", {ShareEnd::Completed, L"Mail_8wekyb3d8bbwe!App", L""}},
      {false, L"", {ShareEnd::Completed, L"", L""}},
      {true, L"Ignored!App", {ShareEnd::Canceled, L"", L""}},
  };
  for (const Case& c : cases) {
    shareEnd_ = std::make_shared<ShareEndState>();
    sim_.Set(L"TARGET", c.target);
    HandleDataRequest(binding_, MakeRequest(1, true).Get());
    const ComPtr<abi::IDataPackage> package = dataPackage_;
    EXPECT_FALSE(shareEnd_->Finished());
    EndShare(package, c.canceled);
    EndShare(package, !c.canceled);  // a second report changes nothing
    EXPECT_TRUE(shareEnd_->Finished());
    EXPECT_EQ(shareEnd_->TakeOutcome(), c.outcome) << c.canceled;
  }
}

TEST_F(DataRequest, LateEndOfShareOnlyTouchesTheHandlersOwnState) {
  HandleDataRequest(binding_, MakeRequest(1, true).Get());
  const ComPtr<abi::IDataPackage> package = dataPackage_;
  const std::weak_ptr<ShareEndState> state = shareEnd_;
  // ShareFile has ended: its own share of the state is gone, the handlers' remains.
  shareEnd_ = nullptr;
  ASSERT_FALSE(state.expired());
  EndShare(package, false);
  const std::shared_ptr<ShareEndState> kept = state.lock();
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->Finished());
}

TEST(AgileHandlers, AnswerIAgileObjectAndTheFreeThreadedMarshaler) {
  const std::wstring title;
  const std::wstring text;
  const ComPtr<abi::IUriRuntimeClass> link;
  const std::vector<ComPtr<abi::IStorageFile>> files;
  ComPtr<abi::IDataPackage> package;
  EventRegistration completed;
  EventRegistration canceled;
  const auto shareEnd = std::make_shared<ShareEndState>();
  std::atomic<bool> requested{false};
  std::atomic<HRESULT> failure{S_OK};
  const std::function<void()> onReady;
  const DataRequestBinding binding{title,    text,      link,      files,   package, completed,
                                   shareEnd, canceled,  requested, failure, onReady};
  const ComPtr<IUnknown> handlers[] = {ComPtr<IUnknown>::Attach(MakeDataRequestHandler(binding).Detach()),
                                       ComPtr<IUnknown>::Attach(MakeTargetChosenHandler(shareEnd).Detach())};
  for (const ComPtr<IUnknown>& handler : handlers) {
    ComPtr<abi::IAgileObject> agile;
    EXPECT_EQ(handler.As(agile), S_OK);
    ComPtr<IUnknown> marshal;
    EXPECT_EQ(handler->QueryInterface(MarshalIid, marshal.PutVoid()), S_OK);
    ComPtr<abi::IDataTransferManager> notAHandler;
    EXPECT_EQ(handler.As(notAHandler), E_NOINTERFACE);
  }
}

}  // namespace
}  // namespace quibshare
