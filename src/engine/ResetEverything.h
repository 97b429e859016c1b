#pragma once

#include "platform/core/DataReset.h"

namespace lumra {

class ClipboardManager;
class LoginItem;

// "Reset Everything": the login item goes, the manager stops and lets go of its stores and
// settings, and Lumra's folders are deleted. Nothing is written afterwards; the caller quits.
DataResetReport resetEverything(ClipboardManager& manager, LoginItem& loginItem,
                                const DataResetTargets& targets = defaultResetTargets());

} // namespace lumra
