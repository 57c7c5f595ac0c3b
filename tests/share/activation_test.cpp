// Finding activation factories: the system first, then namespace DLLs in the executable's
// folder (copies of the simulated platform, built beside this test), and the agile cache.
#include "share/activation.h"

#include <gtest/gtest.h>
#include <roapi.h>

#include <algorithm>
#include <new>
#include <thread>
#include <vector>

#include "harness/sim_session.h"
#include "share/hstring.h"
#include "share/winrt_abi.h"

namespace quibshare {
namespace {

struct Lookup {
  HRESULT result;
  bool gotFactory;
};

Lookup Find(const wchar_t* className) {
  ComPtr<IUnknown> factory;
  const HRESULT result = GetActivationFactory(className, IID_IUnknown, factory.PutVoid());
  return {result, static_cast<bool>(factory)};
}

// bin/sim holds QuibShareTest.Outer.Inner.dll and QuibShareTest.dll, but no QuibShareTest.Outer.dll.
TEST(GetActivationFactory, TriesNamespaceDllsLongestFirstUntilOneAnswers) {
  const wchar_t* const className = L"QuibShareTest.Outer.Inner.Widget";
  {
    test::SimSession sim(test::SimScope::ThisProcess);
    sim.Set(L"ANSWERING", L"QuibShareTest.Outer.Inner");
    const Lookup lookup = Find(className);
    EXPECT_EQ(lookup.result, S_OK);
    EXPECT_TRUE(lookup.gotFactory);
    EXPECT_EQ(sim.Record(L"factory"),
              std::vector<std::wstring>{L"factory QuibShareTest.Outer.Inner " + std::wstring(className)});
  }
  {
    test::SimSession sim(test::SimScope::ThisProcess);
    sim.Set(L"ANSWERING", L"QuibShareTest");
    EXPECT_EQ(Find(className).result, S_OK);
    EXPECT_EQ(sim.Record(L"factory"),
              (std::vector<std::wstring>{L"factory QuibShareTest.Outer.Inner " + std::wstring(className),
                                         L"factory QuibShareTest " + std::wstring(className)}));
  }
}

TEST(GetActivationFactory, ReturnsTheSystemsFailureWhenNothingAnswers) {
  test::SimSession sim(test::SimScope::ThisProcess);
  for (const wchar_t* className : {L"QuibShareTest.Outer.Inner.Unanswered", L"Nowhere.To.Be.Found"}) {
    const Lookup lookup = Find(className);
    ComPtr<IUnknown> direct;
    const HRESULT system = RoGetActivationFactory(MakeHString(className).Get(), IID_IUnknown, direct.PutVoid());
    EXPECT_TRUE(FAILED(system));
    EXPECT_EQ(lookup.result, system);
    EXPECT_FALSE(lookup.gotFactory);
  }
  EXPECT_EQ(sim.Record(L"factory").size(), 2u) << "both QuibShareTest DLLs were asked, once each";
}

TEST(GetActivationFactory, FetchesAnAgileFactoryOncePerProcess) {
  test::SimSession sim(test::SimScope::ThisProcess);
  sim.Set(L"ANSWERING", L"QuibShareTest.Outer.Inner");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Find(L"QuibShareTest.Outer.Inner.AgileGadget").result, S_OK);
    EXPECT_EQ(Find(L"QuibShareTest.Outer.Inner.Gadget").result, S_OK);
  }
  EXPECT_EQ(sim.Record(L"factory QuibShareTest.Outer.Inner QuibShareTest.Outer.Inner.AgileGadget").size(), 1u);
  EXPECT_EQ(sim.Record(L"factory QuibShareTest.Outer.Inner QuibShareTest.Outer.Inner.Gadget").size(), 3u);
}

// Lookups from several threads at once are each answered, and the record keeps each line whole:
// every test reads what the platform was asked from it.
TEST(GetActivationFactory, LookupsAtOnceAreEachAnsweredAndRecordedWhole) {
  test::SimSession sim(test::SimScope::ThisProcess);
  sim.Set(L"ANSWERING", L"QuibShareTest.Outer.Inner");
  constexpr int Threads = 8;
  constexpr int Lookups = 300;
  constexpr std::size_t Lines = std::size_t{Threads} * Lookups;
  std::vector<int> answered(Threads, 0);
  std::vector<std::thread> threads;
  threads.reserve(Threads);
  for (int t = 0; t < Threads; ++t) {
    threads.emplace_back([&answered, t] {
      for (int i = 0; i < Lookups; ++i) answered[t] += Find(L"QuibShareTest.Outer.Inner.Gadget").result == S_OK;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(answered, std::vector<int>(Threads, Lookups));
  const std::vector<std::wstring> record = sim.Record();
  const auto whole = static_cast<std::size_t>(
      std::count(record.begin(), record.end(), L"factory QuibShareTest.Outer.Inner QuibShareTest.Outer.Inner.Gadget"));
  EXPECT_EQ(std::pair(record.size(), whole), std::pair(Lines, Lines)) << "(lines, whole lines) recorded";
}

TEST(GetActivationFactory, WorksOnAThreadWithoutCom) {
  test::SimSession sim(test::SimScope::ThisProcess);
  sim.Set(L"ANSWERING", L"QuibShareTest");
  Lookup lookup{};
  std::thread([&lookup] { lookup = Find(L"QuibShareTest.Outer.Inner.FromAnotherThread"); }).join();
  EXPECT_EQ(lookup.result, S_OK);
  EXPECT_TRUE(lookup.gotFactory);
}

// Stands in for RoGetActivationFactory as Windows answers a thread outside every apartment;
// Wine answers such a thread as any other, so only a stand-in shows the retry. The first call
// is refused, a later one is answered only from inside an apartment.
int standInCalls = 0;
HRESULT WINAPI RefuseFirstCallOutsideAnApartment(HSTRING, REFIID, void** factory) {
  *factory = nullptr;
  if (++standInCalls == 1) return CO_E_NOTINITIALIZED;
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) ? REGDB_E_CLASSNOTREG : E_UNEXPECTED;
}

HRESULT WINAPI RefuseTheClass(HSTRING, REFIID, void** factory) {
  ++standInCalls;
  *factory = nullptr;
  return REGDB_E_CLASSNOTREG;
}

TEST(GetActivationFactory, ThreadWithoutComJoinsTheMultithreadedApartmentAndAsksAgain) {
  void* factory = nullptr;
  HRESULT result = S_OK;
  std::thread([&] {
    result = ActivateJoiningApartment(RefuseFirstCallOutsideAnApartment, nullptr, IID_IUnknown, &factory);
  }).join();
  EXPECT_EQ(standInCalls, 2);
  EXPECT_EQ(result, REGDB_E_CLASSNOTREG) << "asked again, from inside the apartment";
  // Any other refusal is final.
  standInCalls = 0;
  EXPECT_EQ(ActivateJoiningApartment(RefuseTheClass, nullptr, IID_IUnknown, &factory), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(standInCalls, 1);
}

TEST(GetActivationFactory, RaisingFormCarriesTheCode) {
  try {
    GetActivationFactory<abi::IStorageFileStatics>(L"Nowhere.At.All");
    FAIL() << "no error raised";
  } catch (const HResultError& error) {
    EXPECT_TRUE(FAILED(error.Code()));
  }
}

TEST(HResultErrors, OutOfMemoryIsBadAllocAndNoErrorIsNotSuccess) {
  EXPECT_THROW(ThrowIfFailed(E_OUTOFMEMORY), std::bad_alloc);
  EXPECT_NO_THROW(ThrowIfFailed(S_FALSE));
  try {
    ThrowIfFailed(E_ACCESSDENIED);
  } catch (const HResultError& error) {
    EXPECT_EQ(error.Code(), E_ACCESSDENIED);
  }
  EXPECT_EQ(HResultFromWin32(ERROR_SUCCESS), E_FAIL);
  EXPECT_EQ(HResultFromWin32(ERROR_ACCESS_DENIED), static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(HResultFromWin32(ERROR_INVALID_HANDLE), static_cast<HRESULT>(0x80070006));
}

}  // namespace
}  // namespace quibshare
