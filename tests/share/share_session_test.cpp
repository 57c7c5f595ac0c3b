// The share session's data request and EventRegistration in this process, against requests and packages made
// by the simulated share sheet (loaded from beside this test).
#include "share/share_session.h"

#include <gtest/gtest.h>

#include "harness/sim_session.h"
#include "share/activation.h"
#include "share/com_object.h"
#include "share/hstring.h"
#include "share/share_handlers.h"
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

class DataRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Set(L"STORAGE", L"complete");
    storageFiles_ = AcquireStorageFiles({path_});
    ASSERT_TRUE(storageFiles_.front());
  }
  // As ShareFile does on its way out: the package's handlers hold the session.
  void TearDown() override {
    if (session_) session_->Close();
  }

  // The session of the fields below, made at its first use.
  const std::shared_ptr<ShareSession>& SessionPtr() {
    if (!session_) {
      session_ = std::make_shared<ShareSession>(ShareSession::Payload{title_, text_, webLink_, storageFiles_}, onReady_);
    }
    return session_;
  }
  ShareSession& Session() { return *SessionPtr(); }

  test::SimSession sim_{test::SimScope::ThisProcess};
  std::wstring path_ = sim_.Folder().WriteFile(L"report.final.pdf");
  std::wstring title_ = L"report.final.pdf";
  std::wstring text_;
  ComPtr<abi::IUriRuntimeClass> webLink_;
  std::vector<ComPtr<abi::IStorageFile>> storageFiles_;
  std::shared_ptr<ShareSession> session_;
  int readyCalls_ = 0;
  std::function<void()> onReady_ = [this] {
    ++readyCalls_;
    // Only once everything is in place may the broker hear that the sheet is up.
    EXPECT_TRUE(session_->DataRequested());
    EXPECT_TRUE(session_->Subscribed(EventRegistration::Event::ShareCompleted));
    EXPECT_TRUE(session_->Subscribed(EventRegistration::Event::ShareCanceled));
  };
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
  Session().Serve(MakeRequest(1, true).Get());
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
  ComPtr<abi::IDataRequestedHandler> handler;
  for (const wchar_t* fail : {L"empty-request", L"empty-data", L"empty-properties"}) {
    session_ = nullptr;  // a session of its own, which has seen no failure yet
    handler = MakeDataRequestHandler(SessionPtr());
    sim_.Set(L"FAIL", fail);
    EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, true).Get()), S_OK) << fail;
    EXPECT_EQ(Session().HandlerFailure(), E_POINTER) << fail;
  }
  sim_.Set(L"FAIL", L"");
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(2, false).Get()), S_OK);
  EXPECT_EQ(Session().HandlerFailure(), E_POINTER) << "a later failure must not replace the first";
  EXPECT_FALSE(Session().DataRequested());
  EXPECT_EQ(readyCalls_, 0);
}

TEST_F(DataRequest, GivesTheFileUnderItsNameAndSignalsOnce) {
  const ComPtr<abi::IDataRequestedEventArgs> request = MakeRequest(1, true);
  Session().Serve(request.Get());
  EXPECT_TRUE(Session().DataRequested());
  EXPECT_EQ(readyCalls_, 1);
  EXPECT_TRUE(Session().Package());
  EXPECT_EQ(sim_.Record(L"title"), std::vector<std::wstring>{L"title 1 report.final.pdf"});
  EXPECT_EQ(sim_.Record(L"SetStorageItems"), std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + path_});
  EXPECT_EQ(sim_.Subscribed(), (std::vector<std::wstring>{L"ShareCanceled 1 2", L"ShareCompleted 1 1"}));
  EXPECT_EQ(sim_.Record(L"unexpected"), std::vector<std::wstring>{});
}

// The platform may still call after the share has closed its session: nothing is put into the
// package, and the session keeps nothing that would hold it.
TEST_F(DataRequest, ARequestAfterCloseIsNotServed) {
  Session().Close();
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(SessionPtr());
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, true).Get()), S_OK);
  EXPECT_FALSE(Session().DataRequested());
  EXPECT_FALSE(Session().Package());
  EXPECT_EQ(readyCalls_, 0);
  EXPECT_EQ(sim_.Record(L"title"), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
}

TEST_F(DataRequest, EmptyOnReadyStillSetsTheFlag) {
  onReady_ = nullptr;
  Session().Serve(MakeRequest(1, true).Get());
  EXPECT_TRUE(Session().DataRequested());
}

TEST_F(DataRequest, PackageWithoutShareCanceledFailsAfterPlacingTheFile) {
  const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(SessionPtr());
  EXPECT_EQ(handler->Invoke(nullptr, MakeRequest(1, false).Get()), S_OK);
  EXPECT_FALSE(Session().DataRequested());
  EXPECT_EQ(Session().HandlerFailure(), E_NOINTERFACE);
  EXPECT_EQ(readyCalls_, 0);
  EXPECT_TRUE(Session().Package()) << "what was done before the failure stays done";
  EXPECT_TRUE(Session().Subscribed(EventRegistration::Event::ShareCompleted));
  EXPECT_FALSE(Session().Subscribed(EventRegistration::Event::ShareCanceled));
  EXPECT_EQ(sim_.Record(L"SetStorageItems"), std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + path_});
}

TEST_F(DataRequest, SecondRequestReplacesTheFirstPackagesSubscriptions) {
  const ComPtr<abi::IDataRequestedEventArgs> first = MakeRequest(1, true);
  const ComPtr<abi::IDataRequestedEventArgs> second = MakeRequest(2, true);
  Session().Serve(first.Get());
  Session().Serve(second.Get());
  EXPECT_EQ(readyCalls_, 2);
  EXPECT_EQ(sim_.Subscribed(), (std::vector<std::wstring>{L"ShareCanceled 2 2", L"ShareCompleted 2 1"}));
  Session().Close();
  EXPECT_EQ(sim_.Subscribed(), std::vector<std::wstring>{});
  EXPECT_EQ(sim_.Record(L"remove-unknown"), std::vector<std::wstring>{});
}

TEST_F(DataRequest, RegistrationRevokesOnlyWhileThePackageLives) {
  ComPtr<abi::IDataRequestedEventArgs> request = MakeRequest(1, true);
  Session().Serve(request.Get());
  ASSERT_EQ(sim_.Subscribed().size(), 2u);
  // Registrations hold the package weakly: once the rest let go, it is gone. The session lets
  // go of it for the next request's package, whose subscriptions then replace its own.
  request.Reset();
  const ComPtr<abi::IDataRequestedEventArgs> next = MakeRequest(2, true);
  Session().Serve(next.Get());
  EXPECT_TRUE(Session().Subscribed(EventRegistration::Event::ShareCanceled));
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
    session_ = nullptr;
    sim_.Set(L"TARGET", c.target);
    Session().Serve(MakeRequest(1, true).Get());
    const ComPtr<abi::IDataPackage> package = Session().Package();
    EXPECT_FALSE(Session().End().Finished());
    EndShare(package, c.canceled);
    EndShare(package, !c.canceled);  // a second report changes nothing
    EXPECT_TRUE(Session().End().Finished());
    EXPECT_EQ(Session().End().TakeOutcome(), c.outcome) << c.canceled;
    Session().Close();
  }
}

TEST_F(DataRequest, LateEndOfShareOnlyTouchesTheHandlersOwnState) {
  Session().Serve(MakeRequest(1, true).Get());
  const ComPtr<abi::IDataPackage> package = Session().Package();
  const std::weak_ptr<ShareSession> state = session_;
  // ShareFile has ended: its own share of the state is gone, the handlers' remains.
  session_ = nullptr;
  ASSERT_FALSE(state.expired());
  EndShare(package, false);
  const std::shared_ptr<ShareSession> kept = state.lock();
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->End().Finished());
  kept->Close();
}

TEST(AgileHandlers, AnswerIAgileObjectAndTheFreeThreadedMarshaler) {
  const auto session = std::make_shared<ShareSession>(ShareSession::Payload{}, nullptr);
  const ComPtr<IUnknown> handlers[] = {ComPtr<IUnknown>::Attach(MakeDataRequestHandler(session).Detach()),
                                       ComPtr<IUnknown>::Attach(MakeTargetChosenHandler(session).Detach())};
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
