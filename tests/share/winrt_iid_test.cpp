// The identifiers of the parameterized interfaces, recomputed from their type signatures with
// the Windows Runtime's SHA-1 name-based scheme. Argument identifiers come from our own
// declarations, so a wrong one shows up here too.
#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "share/winrt_abi.h"

namespace quibshare {
namespace {

std::string Braced(const GUID& id) {
  char text[40] = {};
  std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
                id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  return text;
}

std::string RuntimeClass(const char* name, const GUID& defaultInterface) {
  return std::string("rc(") + name + ";" + Braced(defaultInterface) + ")";
}

std::vector<unsigned char> Sha1(const std::vector<unsigned char>& data) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::vector<unsigned char> digest(20);
  EXPECT_EQ(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0), 0);
  EXPECT_EQ(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0), 0);
  BCryptHashData(hash, const_cast<unsigned char*>(data.data()), static_cast<ULONG>(data.size()), 0);
  BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return digest;
}

// Version 5 UUID in the parameterized-interface namespace 11f47ad5-7b73-42c0-abae-878b1e16adee.
GUID ParameterizedIid(const std::string& signature) {
  std::vector<unsigned char> data = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                     0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
  data.insert(data.end(), signature.begin(), signature.end());
  const std::vector<unsigned char> d = Sha1(data);
  GUID id{};
  id.Data1 = (static_cast<unsigned long>(d[0]) << 24) | (d[1] << 16) | (d[2] << 8) | d[3];
  id.Data2 = static_cast<unsigned short>((d[4] << 8) | d[5]);
  id.Data3 = static_cast<unsigned short>((((d[6] << 8) | d[7]) & 0x0fff) | 0x5000);
  for (int i = 0; i < 8; ++i) id.Data4[i] = d[8 + i];
  id.Data4[0] = static_cast<unsigned char>((id.Data4[0] & 0x3f) | 0x80);
  return id;
}

constexpr GUID AsyncOperationPiid = {0x9fc2b0bb, 0xe446, 0x44e2, {0xaa, 0x61, 0x9c, 0xab, 0x8f, 0x63, 0x6a, 0xf2}};
constexpr GUID IterablePiid = {0xfaa585ea, 0x6214, 0x4217, {0xaf, 0xda, 0x7f, 0x46, 0xde, 0x58, 0x69, 0xb3}};
constexpr GUID IteratorPiid = {0x6a79e863, 0x4300, 0x459a, {0x99, 0x66, 0xcb, 0xb6, 0x60, 0x96, 0x3e, 0xe1}};
constexpr GUID TypedEventHandlerPiid = {0x9de1c534, 0x6ae1, 0x11e0, {0x84, 0xe1, 0x18, 0xa9, 0x05, 0xbc, 0xc5, 0x3f}};

std::string Instance(const GUID& piid, const std::vector<std::string>& arguments) {
  std::string signature = "pinterface(" + Braced(piid);
  for (const std::string& argument : arguments) signature += ";" + argument;
  return signature + ")";
}

TEST(ParameterizedIids, MatchTheirTypeSignatures) {
  const std::string storageFile = RuntimeClass("Windows.Storage.StorageFile", abi::IStorageFile::Iid);
  const std::string manager = RuntimeClass("Windows.ApplicationModel.DataTransfer.DataTransferManager",
                                           abi::IDataTransferManager::Iid);
  const std::string requested = RuntimeClass(
      "Windows.ApplicationModel.DataTransfer.DataRequestedEventArgs", abi::IDataRequestedEventArgs::Iid);
  const std::string package =
      RuntimeClass("Windows.ApplicationModel.DataTransfer.DataPackage", abi::IDataPackage::Iid);
  const std::string completed = RuntimeClass(
      "Windows.ApplicationModel.DataTransfer.ShareCompletedEventArgs", abi::IShareCompletedEventArgs::Iid);
  const std::string item = Braced(abi::IStorageItem::Iid);
  const std::string chosen = RuntimeClass("Windows.ApplicationModel.DataTransfer.TargetApplicationChosenEventArgs",
                                          abi::ITargetApplicationChosenEventArgs::Iid);
  struct Case {
    const char* name;
    std::string signature;
    GUID declared;
  };
  const Case cases[] = {
      {"IAsyncOperation<StorageFile>", Instance(AsyncOperationPiid, {storageFile}),
       abi::IAsyncOperationStorageFile::Iid},
      {"IIterable<IStorageItem>", Instance(IterablePiid, {item}), abi::IIterableStorageItem::Iid},
      {"IIterator<IStorageItem>", Instance(IteratorPiid, {item}), abi::IIteratorStorageItem::Iid},
      {"TypedEventHandler<DataTransferManager, DataRequestedEventArgs>",
       Instance(TypedEventHandlerPiid, {manager, requested}), abi::IDataRequestedHandler::Iid},
      {"TypedEventHandler<DataPackage, ShareCompletedEventArgs>",
       Instance(TypedEventHandlerPiid, {package, completed}), abi::IShareCompletedHandler::Iid},
      {"TypedEventHandler<DataPackage, Object>",
       Instance(TypedEventHandlerPiid, {package, "cinterface(IInspectable)"}),
       abi::IShareCanceledHandler::Iid},
      {"TypedEventHandler<DataTransferManager, TargetApplicationChosenEventArgs>",
       Instance(TypedEventHandlerPiid, {manager, chosen}), abi::ITargetApplicationChosenHandler::Iid},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Braced(ParameterizedIid(c.signature)), Braced(c.declared)) << c.name << "\n" << c.signature;
  }
}

TEST(ParameterizedIids, SchemeReproducesAPublishedExample) {
  // IVector<String>, as published with the scheme: 98b9acc1-4b56-532e-ac73-03d5291cca90.
  const GUID vectorPiid = {0x913337e9, 0x11a1, 0x4345, {0xa3, 0xa2, 0x4e, 0x7f, 0x95, 0x6e, 0x22, 0x2d}};
  EXPECT_EQ(Braced(ParameterizedIid(Instance(vectorPiid, {"string"}))),
            "{98b9acc1-4b56-532e-ac73-03d5291cca90}");
}

}  // namespace
}  // namespace quibshare
