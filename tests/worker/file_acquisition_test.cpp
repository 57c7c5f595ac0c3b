// AcquireStorageFiles against the simulated StorageFile, in this process and on this thread.
#include "worker/file_acquisition.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <new>
#include <thread>

#include "harness/sim_session.h"
#include "share/hresult_error.h"
#include "share/hstring.h"

namespace quibshare {
namespace {

using namespace std::chrono_literals;

class FileAcquisition : public ::testing::Test {
 protected:
  void SetUp() override { file_ = sim_.Folder().WriteFile(L"report.final.pdf"); }

  // The HRESULT raised for a scenario (played by every file, or by the one named `only`), or S_OK.
  HRESULT Raised(const std::wstring& scenario, std::chrono::nanoseconds deadline = 5s,
                 const std::vector<std::wstring>& paths = {}, const std::wstring& only = L"") {
    sim_.Set(L"STORAGE", scenario);
    sim_.Set(L"STORAGE_FOR", only);
    try {
      AcquireStorageFiles(paths.empty() ? std::vector<std::wstring>{file_} : paths, deadline);
      return S_OK;
    } catch (const HResultError& error) {
      return error.Code();
    }
  }
  ComPtr<abi::IStorageFile> AcquireOne() { return AcquireStorageFiles({file_}).front(); }
  size_t Cancels() const { return sim_.Record(L"cancel").size(); }

  test::SimSession sim_{test::SimScope::ThisProcess};
  std::wstring file_;
};

TEST_F(FileAcquisition, RaisesTheCodeOfEachFailure) {
  struct Case {
    std::wstring scenario;
    std::uint32_t raised;
    size_t cancels;
  };
  const Case cases[] = {
      {L"fail-start:80070002", 0x80070002, 0},
      {L"no-asyncinfo", 0x80004002, 0},
      {L"status-fails:8000000B", 0x8000000B, 0},
      {L"error:80070005", 0x80070005, 0},
      {L"error:80040154", 0x80040154, 0},
      {L"canceled", 0x800704C7, 0},
      {L"never", 0x800705B4, 1},
      {L"cancel-fails:8000FFFF", 0x8000FFFF, 1},
  };
  for (const Case& c : cases) {
    const size_t before = Cancels();
    EXPECT_EQ(static_cast<std::uint32_t>(Raised(c.scenario, 200ms)), c.raised) << c.scenario.size();
    EXPECT_EQ(Cancels() - before, c.cancels) << c.raised;
  }
}

TEST_F(FileAcquisition, OutOfMemoryIsRaisedAsBadAlloc) {
  sim_.Set(L"STORAGE", L"error:8007000E");
  EXPECT_THROW(AcquireOne(), std::bad_alloc);
}

TEST_F(FileAcquisition, ReturnsTheFileOpenedForThePath) {
  for (const wchar_t* scenario : {L"complete", L"delay:150"}) {
    sim_.Set(L"STORAGE", scenario);
    const ComPtr<abi::IStorageFile> file = AcquireOne();
    ASSERT_TRUE(file);
    ComPtr<abi::IStorageItem> item;
    ASSERT_EQ(file.As(item), S_OK);
    UniqueHString path;
    ASSERT_EQ(item->get_Path(path.Put()), S_OK);
    EXPECT_EQ(HStringText(path.Get()), file_);
  }
  EXPECT_EQ(sim_.Record(L"open"), (std::vector<std::wstring>{L"open " + file_, L"open " + file_}));
}

TEST_F(FileAcquisition, NoFileIsAnEmptyReference) {
  sim_.Set(L"STORAGE", L"no-file");
  EXPECT_FALSE(AcquireOne());
}

std::wstring PathOf(const ComPtr<abi::IStorageFile>& file) {
  ComPtr<abi::IStorageItem> item;
  UniqueHString path;
  if (!file || FAILED(file.As(item)) || FAILED(item->get_Path(path.Put()))) return L"<none>";
  return std::wstring(HStringText(path.Get()));
}

// All files are opened at once under one deadline; the first failing file in order decides, and
// nothing is left running unseen.
TEST_F(FileAcquisition, SeveralFilesShareOneDeadlineAndTheFirstFailureInOrder) {
  const std::vector<std::wstring> paths = {sim_.Folder().WriteFile(L"a.txt"), sim_.Folder().WriteFile(L"b.txt"),
                                           sim_.Folder().WriteFile(L"c.txt")};
  struct Case {
    std::wstring scenario;
    std::wstring only;
    std::uint32_t raised;
    std::vector<std::wstring> cancelled;
  };
  const Case cases[] = {
      // Each takes 600 ms of the one second: together they fit, one after another they would not.
      {L"delay:600", L"", S_OK, {}},
      {L"never", L"b.txt", 0x800705B4, {L"cancel " + paths[1]}},
      {L"error:80070005", L"c.txt", 0x80070005, {}},
      // The second cannot even start: the first, already running, is cancelled.
      {L"fail-start:80070002", L"b.txt", 0x80070002, {L"cancel " + paths[0]}},
      // The second's status cannot be read: the third, not yet seen finished, is cancelled.
      {L"status-fails:8000000B", L"b.txt", 0x8000000B, {L"cancel " + paths[2]}},
  };
  for (const Case& c : cases) {
    sim_.NewRecord();
    EXPECT_EQ(static_cast<std::uint32_t>(Raised(c.scenario, 1s, paths, c.only)), c.raised) << c.raised;
    EXPECT_EQ(sim_.Record(L"cancel"), c.cancelled) << c.raised;
  }
  sim_.Set(L"STORAGE", L"complete");
  std::vector<std::wstring> opened;
  for (const ComPtr<abi::IStorageFile>& file : AcquireStorageFiles(paths)) opened.push_back(PathOf(file));
  EXPECT_EQ(opened, paths);
}

TEST_F(FileAcquisition, TakesAFinishedOperationWithoutPumping) {
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 0, 0));
  sim_.Set(L"STORAGE", L"complete");
  EXPECT_TRUE(AcquireOne());
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE)) << "was pumped";
}

TEST_F(FileAcquisition, CancelsAtTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Raised(L"never", 300ms), static_cast<HRESULT>(0x800705B4));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 300ms);
  EXPECT_LT(elapsed, 10s) << "the deadline did not end the wait";
  EXPECT_EQ(sim_.Record(L"cancel"), std::vector<std::wstring>{L"cancel " + file_});
}

TEST_F(FileAcquisition, QuitCancelsAndGoesBackOnTheQueue) {
  PostQuitMessage(17);
  EXPECT_EQ(Raised(L"never"), E_ABORT);
  EXPECT_EQ(Cancels(), 1u);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 17u);
}

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(FileAcquisition, DispatchesMessagesWhileWaiting) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuibShareAcquisitionTest";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  int received = 0;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
  std::thread poster([window] {
    std::this_thread::sleep_for(100ms);
    PostMessageW(window, WM_APP, 0, 0);
  });
  sim_.Set(L"STORAGE", L"delay:600");
  EXPECT_TRUE(AcquireOne());
  poster.join();
  EXPECT_EQ(received, 1);
  DestroyWindow(window);
}

}  // namespace
}  // namespace quibshare
