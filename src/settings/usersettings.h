#pragma once

#include <memory>

#include "settings/settingsport.h"

namespace quillon {

// The user's own settings store: the registry key HKCU\Software\Brantwell\Quillon\Settings on
// Windows, an INI file under the user's configuration folder elsewhere.
std::unique_ptr<SettingsPort> OpenUserSettings();

}  // namespace quillon
