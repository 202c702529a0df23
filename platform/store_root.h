// The one folder under which the registry store and the spooler's printer
// folders live. Tests and users move it with the environment variable
// QLPR_ROOT; without it the store is per user ($XDG_STATE_HOME/qlpr, else
// $HOME/.local/state/qlpr), so nothing ever touches the machine's own files.
// The variables are read at every call. A relative XDG_STATE_HOME is
// ignored; with no home folder at all the paths are empty and the registry
// and printers cannot be reached.
#pragma once

#include <filesystem>

#include "platform/types.h"

namespace platform {

QLPR_EXPORT std::filesystem::path StoreRoot();
// Folder of the registry store: <root>/registry.
QLPR_EXPORT std::filesystem::path RegistryRoot();
// Folder of the spooler stand-in's printers: <root>/printers.
QLPR_EXPORT std::filesystem::path PrintersRoot();

}  // namespace platform
