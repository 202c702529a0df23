// Names of the companion libraries, derived from the driver's own file name:
// everything up to the last folder separator, the next four characters (the
// module prefix "QLPR"), then the companion's suffix ("CMND.DLL",
// "BRCD.DLL", "URES.DLL"). Without a separator the first four characters of
// the name are kept.
#pragma once

#include <string>

#include "platform/types.h"

std::u16string CompanionLibraryName(const WCHAR* moduleFileName, const char16_t* suffix);
