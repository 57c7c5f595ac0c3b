// Simulated platform: scenarios chosen by the test through the environment, and the record of
// what the platform was asked, appended to the file named by QUIBSHARE_SIM_LOG.
#pragma once

#include <windows.h>
#include <activation.h>

#include <string>
#include <string_view>

#include "share/com_object.h"
#include "share/winrt_abi.h"

namespace quibshare::sim {

// IActivationFactory with the identifier ComObject looks for.
struct ActivationFactory : IActivationFactory {
  static constexpr GUID Iid = {0x00000035, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
};

// The value of an environment variable, read anew on every call.
std::wstring Setting(const wchar_t* name);

// "name:hex" scenarios carry an HRESULT; "name:decimal" a count of milliseconds.
bool ScenarioIs(const std::wstring& scenario, std::wstring_view name);
HRESULT ScenarioCode(const std::wstring& scenario);
ULONGLONG ScenarioNumber(const std::wstring& scenario);

// Appends one line to the record.
void Record(std::wstring_view line);

// This copy's file name without ".dll": the simulated platform is loaded under several names.
std::wstring ModuleBaseName();

// The characters of an HSTRING the platform was given.
std::wstring Text(HSTRING text);

// "%08X" of a code, as the record writes HRESULTs.
std::wstring Hex(HRESULT code);

// The text of a Uri made by the simulated factory (or by anyone's, through its RawUri).
std::wstring UriText(abi::IUriRuntimeClass* uri);

HRESULT MakeStorageFileStatics(IActivationFactory** factory);
HRESULT MakeUriFactory(IActivationFactory** factory);
HRESULT MakeDataTransferManagerFactory(IActivationFactory** factory);
// Raises ShareCompleted or ShareCanceled on a package the simulated sheet made.
void EndShareOf(abi::IDataPackage* package, bool canceled);
// Shows the sheet of `package` as a top-level window over `owner` that takes the foreground
// (QUIBSHARE_SIM_END=window, window-deaf:TITLE). Window's thread.
void ShowSheetWindow(HWND owner, abi::IDataPackage* package);

}  // namespace quibshare::sim
