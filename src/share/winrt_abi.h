// Our own declarations of the Windows Runtime and COM interfaces the worker calls. Each
// identifier and method order mirrors the Windows metadata type named beside it; a method we
// never call keeps its slot with a plain pointer parameter. Any thread.
#pragma once

#include <windows.h>
#include <activation.h>
#include <eventtoken.h>
#include <inspectable.h>

namespace quibshare::abi {

struct IDataPackage;
struct IDataRequest;
struct IDataRequestedEventArgs;
struct IDataTransferManager;
struct IShareCompletedEventArgs;
struct IShareTargetInfo;
struct IStorageFile;
struct ITargetApplicationChosenEventArgs;
struct IUriRuntimeClass;
struct IStorageItem;
struct IWeakReference;

// Windows.Foundation.AsyncStatus
enum class AsyncStatus : INT32 { Started = 0, Completed = 1, Canceled = 2, Error = 3 };

// IAgileObject (objidl): a marker meaning "callable from any apartment".
struct IAgileObject : IUnknown {
  static constexpr GUID Iid = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
};

// IWeakReference (weakreference.idl)
struct IWeakReference : IUnknown {
  static constexpr GUID Iid = {0x00000037, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, IInspectable** object) = 0;
};

// IWeakReferenceSource (weakreference.idl)
struct IWeakReferenceSource : IUnknown {
  static constexpr GUID Iid = {0x00000038, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference** reference) = 0;
};

// Windows.Foundation.IAsyncInfo
struct IAsyncInfo : IInspectable {
  static constexpr GUID Iid = {0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* errorCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Foundation.IAsyncOperation`1<Windows.Storage.StorageFile>
struct IAsyncOperationStorageFile : IInspectable {
  static constexpr GUID Iid = {0x5e52f8ce, 0xaced, 0x5a42, {0x95, 0xb4, 0xf6, 0x74, 0xdd, 0x84, 0x88, 0x5e}};
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(IStorageFile** results) = 0;
};

// Windows.Storage.IStorageFileStatics
struct IStorageFileStatics : IInspectable {
  static constexpr GUID Iid = {0x5984c710, 0xdaf2, 0x43c8, {0x8b, 0xb4, 0xa4, 0xd3, 0xea, 0xcf, 0xd0, 0x3f}};
  virtual HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path, IAsyncOperationStorageFile** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileFromApplicationUriAsync(IInspectable* uri, IAsyncOperationStorageFile** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateStreamedFileAsync(HSTRING name, IUnknown* dataRequested, IInspectable* thumbnail, IAsyncOperationStorageFile** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReplaceWithStreamedFileAsync(IStorageFile* file, IUnknown* dataRequested, IInspectable* thumbnail, IAsyncOperationStorageFile** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateStreamedFileFromUriAsync(HSTRING name, IInspectable* uri, IInspectable* thumbnail, IAsyncOperationStorageFile** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReplaceWithStreamedFileFromUriAsync(IStorageFile* file, IInspectable* uri, IInspectable* thumbnail, IAsyncOperationStorageFile** operation) = 0;
};

// Windows.Storage.IStorageFile, StorageFile's default interface. None of its own methods is
// called here; it is reached through IStorageItem.
struct IStorageFile : IInspectable {
  static constexpr GUID Iid = {0xfa3f6186, 0x4214, 0x428c, {0xa6, 0x4c, 0x14, 0xc9, 0xac, 0x73, 0x15, 0xea}};
};

// Windows.Storage.IStorageItem
struct IStorageItem : IInspectable {
  static constexpr GUID Iid = {0x4207a996, 0xca2f, 0x42f7, {0xbd, 0xe8, 0x8b, 0x10, 0x45, 0x7a, 0x7f, 0x30}};
  virtual HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions(HSTRING desiredName, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenameAsync(HSTRING desiredName, INT32 option, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions(IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsync(INT32 option, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync(IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Attributes(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DateCreated(INT64* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsOfType(UINT32 type, boolean* value) = 0;
};

// Windows.Foundation.Collections.IIterator`1<Windows.Storage.IStorageItem>
struct IIteratorStorageItem : IInspectable {
  static constexpr GUID Iid = {0x05b487c2, 0x3830, 0x5d3c, {0x98, 0xda, 0x25, 0xfa, 0x11, 0x54, 0x2d, 0xbd}};
  virtual HRESULT STDMETHODCALLTYPE get_Current(IStorageItem** current) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveNext(boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 capacity, IStorageItem** items, UINT32* actual) = 0;
};

// Windows.Foundation.Collections.IIterable`1<Windows.Storage.IStorageItem>
struct IIterableStorageItem : IInspectable {
  static constexpr GUID Iid = {0xbb8b8418, 0x65d1, 0x544b, {0xb0, 0x83, 0x6d, 0x17, 0x2f, 0x56, 0x8c, 0x73}};
  virtual HRESULT STDMETHODCALLTYPE First(IIteratorStorageItem** first) = 0;
};

// Windows.Foundation.TypedEventHandler`2<DataTransferManager, DataRequestedEventArgs>
struct IDataRequestedHandler : IUnknown {
  static constexpr GUID Iid = {0xec6f9cc8, 0x46d0, 0x5e0e, {0xb4, 0xd2, 0x7d, 0x77, 0x73, 0xae, 0x37, 0xa0}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDataTransferManager* sender, IDataRequestedEventArgs* args) = 0;
};

// Windows.Foundation.TypedEventHandler`2<DataPackage, ShareCompletedEventArgs>
struct IShareCompletedHandler : IUnknown {
  static constexpr GUID Iid = {0xf8f7e24a, 0x56fe, 0x58df, {0xbc, 0x15, 0x23, 0x65, 0xae, 0xc0, 0x39, 0x66}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDataPackage* sender, IShareCompletedEventArgs* args) = 0;
};

// Windows.Foundation.TypedEventHandler`2<DataPackage, Object>, used by ShareCanceled
struct IShareCanceledHandler : IUnknown {
  static constexpr GUID Iid = {0xc156b0c3, 0x1cbc, 0x5ca4, {0x90, 0x1c, 0x62, 0xc5, 0xa8, 0xca, 0x5c, 0xb5}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDataPackage* sender, IInspectable* args) = 0;
};

// Windows.Foundation.TypedEventHandler`2<DataTransferManager, TargetApplicationChosenEventArgs>
struct ITargetApplicationChosenHandler : IUnknown {
  static constexpr GUID Iid = {0xc4ac1ba2, 0x7851, 0x5a44, {0xbc, 0x8d, 0x3d, 0x7c, 0x71, 0x3f, 0x1f, 0x41}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDataTransferManager* sender, ITargetApplicationChosenEventArgs* args) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataTransferManager
struct IDataTransferManager : IInspectable {
  static constexpr GUID Iid = {0xa5caee9b, 0x8708, 0x49d1, {0x8d, 0x36, 0x67, 0xd2, 0x5a, 0x8d, 0xa0, 0x0c}};
  virtual HRESULT STDMETHODCALLTYPE add_DataRequested(IDataRequestedHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_DataRequested(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_TargetApplicationChosen(ITargetApplicationChosenHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_TargetApplicationChosen(EventRegistrationToken token) = 0;
};

// Windows.ApplicationModel.DataTransfer.ITargetApplicationChosenEventArgs
struct ITargetApplicationChosenEventArgs : IInspectable {
  static constexpr GUID Iid = {0xca6fb8ac, 0x2987, 0x4ee3, {0x9c, 0x54, 0xd8, 0xaf, 0xbc, 0xb8, 0x6c, 0x1d}};
  virtual HRESULT STDMETHODCALLTYPE get_ApplicationName(HSTRING* value) = 0;
};

// IDataTransferManagerInterop (shobjidl_core): classic COM, based on IUnknown.
struct IDataTransferManagerInterop : IUnknown {
  static constexpr GUID Iid = {0x3a3dcd6c, 0x3eab, 0x43dc, {0xbc, 0xde, 0x45, 0x67, 0x1c, 0xe8, 0x00, 0xc8}};
  virtual HRESULT STDMETHODCALLTYPE GetForWindow(HWND appWindow, REFIID iid, void** dataTransferManager) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowShareUIForWindow(HWND appWindow) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataRequestedEventArgs
struct IDataRequestedEventArgs : IInspectable {
  static constexpr GUID Iid = {0xcb8ba807, 0x6ac5, 0x43c9, {0x8a, 0xc5, 0x9b, 0xa2, 0x32, 0x16, 0x31, 0x82}};
  virtual HRESULT STDMETHODCALLTYPE get_Request(IDataRequest** request) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataRequest
struct IDataRequest : IInspectable {
  static constexpr GUID Iid = {0x4341ae3b, 0xfc12, 0x4e53, {0x8c, 0x02, 0xac, 0x71, 0x4c, 0x41, 0x5a, 0x27}};
  virtual HRESULT STDMETHODCALLTYPE get_Data(IDataPackage** package) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Data(IDataPackage* package) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Deadline(INT64* deadline) = 0;
  virtual HRESULT STDMETHODCALLTYPE FailWithDisplayText(HSTRING text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeferral(IInspectable** deferral) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataPackagePropertySet
struct IDataPackagePropertySet : IInspectable {
  static constexpr GUID Iid = {0xcd1c93eb, 0x4c4c, 0x443a, {0xa8, 0xd3, 0xf5, 0xc2, 0x41, 0xe9, 0x16, 0x89}};
  virtual HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Description(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Description(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Thumbnail(IInspectable* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FileTypes(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ApplicationName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ApplicationName(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ApplicationListingUri(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ApplicationListingUri(IInspectable* value) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataPackage
struct IDataPackage : IInspectable {
  static constexpr GUID Iid = {0x61ebf5c7, 0xefea, 0x4346, {0x95, 0x54, 0x98, 0x1d, 0x7e, 0x19, 0x8f, 0xfe}};
  virtual HRESULT STDMETHODCALLTYPE GetView(IInspectable** view) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Properties(IDataPackagePropertySet** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RequestedOperation(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_RequestedOperation(UINT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_OperationCompleted(IUnknown* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_OperationCompleted(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Destroyed(IUnknown* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Destroyed(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetData(HSTRING formatId, IInspectable* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDataProvider(HSTRING formatId, IUnknown* delayRenderer) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetText(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetUri(IUriRuntimeClass* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHtmlFormat(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResourceMap(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRtf(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBitmap(IInspectable* value) = 0;
  // Both are the projection's SetStorageItems; the one-argument form marks items read-only.
  virtual HRESULT STDMETHODCALLTYPE SetStorageItemsReadOnly(IIterableStorageItem* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStorageItems(IIterableStorageItem* value, boolean readOnly) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataPackage2
struct IDataPackage2 : IInspectable {
  static constexpr GUID Iid = {0x041c1fe9, 0x2409, 0x45e1, {0xa5, 0x38, 0x4c, 0x53, 0xee, 0xee, 0x04, 0xa7}};
  virtual HRESULT STDMETHODCALLTYPE SetApplicationLink(IUriRuntimeClass* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWebLink(IUriRuntimeClass* value) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataPackage3
struct IDataPackage3 : IInspectable {
  static constexpr GUID Iid = {0x88f31f5d, 0x787b, 0x4d32, {0x96, 0x5a, 0xa9, 0x83, 0x81, 0x05, 0xa0, 0x56}};
  virtual HRESULT STDMETHODCALLTYPE add_ShareCompleted(IShareCompletedHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ShareCompleted(EventRegistrationToken token) = 0;
};

// Windows.ApplicationModel.DataTransfer.IDataPackage4
struct IDataPackage4 : IInspectable {
  static constexpr GUID Iid = {0x13a24ec8, 0x9382, 0x536f, {0x85, 0x2a, 0x30, 0x45, 0xe1, 0xb2, 0x9a, 0x3b}};
  virtual HRESULT STDMETHODCALLTYPE add_ShareCanceled(IShareCanceledHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_ShareCanceled(EventRegistrationToken token) = 0;
};

// Windows.ApplicationModel.DataTransfer.IShareCompletedEventArgs
struct IShareCompletedEventArgs : IInspectable {
  static constexpr GUID Iid = {0x4574c442, 0xf913, 0x4f60, {0x9d, 0xf7, 0xcc, 0x40, 0x60, 0xab, 0x19, 0x16}};
  virtual HRESULT STDMETHODCALLTYPE get_ShareTarget(IShareTargetInfo** value) = 0;
};

// Windows.ApplicationModel.DataTransfer.IShareTargetInfo
struct IShareTargetInfo : IInspectable {
  static constexpr GUID Iid = {0x385be607, 0xc6e8, 0x4114, {0xb2, 0x94, 0x28, 0xf3, 0xbb, 0x6f, 0x99, 0x04}};
  virtual HRESULT STDMETHODCALLTYPE get_AppUserModelId(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ShareProvider(IInspectable** value) = 0;
};

// Windows.Foundation.IUriRuntimeClass, the default interface of Windows.Foundation.Uri
struct IUriRuntimeClass : IInspectable {
  static constexpr GUID Iid = {0x9e365e57, 0x48b2, 0x4160, {0x95, 0x6f, 0xc7, 0x38, 0x51, 0x20, 0xbb, 0xfc}};
  virtual HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DisplayUri(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Domain(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Extension(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Fragment(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Host(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Password(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Query(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_QueryParsed(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RawUri(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SchemeName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Port(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Suspicious(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Equals(IUriRuntimeClass* other, boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CombineUri(HSTRING relativeUri, IUriRuntimeClass** value) = 0;
};

// Windows.Foundation.IUriRuntimeClassFactory, the activation factory of Windows.Foundation.Uri
struct IUriRuntimeClassFactory : IInspectable {
  static constexpr GUID Iid = {0x44a9796f, 0x723e, 0x4fdf, {0xa2, 0x18, 0x03, 0x3e, 0x75, 0xb0, 0xc0, 0x84}};
  virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IUriRuntimeClass** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWithRelativeUri(HSTRING baseUri, HSTRING relativeUri, IUriRuntimeClass** value) = 0;
};

}  // namespace quibshare::abi
