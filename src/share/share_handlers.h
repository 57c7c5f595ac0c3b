// The delegates the platform calls for one share session. Agile: the platform may call them on
// any thread; each holds the session, which it may outlive the share with.
#pragma once

#include <memory>

#include "share/com_ptr.h"
#include "share/winrt_abi.h"

namespace quibshare {

class ShareSession;

// DataRequested: serves the request from the session.
ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(std::shared_ptr<ShareSession> session);

// TargetApplicationChosen: keeps the chosen application's name in the session.
ComPtr<abi::ITargetApplicationChosenHandler> MakeTargetChosenHandler(std::shared_ptr<ShareSession> session);

// ShareCompleted and ShareCanceled: tell the session's end state how the share ended.
ComPtr<abi::IShareCompletedHandler> MakeShareCompletedHandler(std::shared_ptr<ShareSession> session);
ComPtr<abi::IShareCanceledHandler> MakeShareCanceledHandler(std::shared_ptr<ShareSession> session);

}  // namespace quibshare
