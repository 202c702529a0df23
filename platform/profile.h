// Reading INI-format files, with the platform's own rules:
// - section == null: the names of all sections, each ended by 0, the list
//   ended by a second 0; a list that does not fit is cut, ended by two
//   zeros, and the result is size - 2.
// - key == null: the keys of the section, the same way.
// - otherwise the key's value, blanks around it removed and one pair of
//   matching quotes taken off; a value that does not fit is cut to size - 1
//   characters and the result is size - 1.
// - a missing file, section or key gives the default (null: empty) without
//   its trailing blanks.
// Names compare without regard to case; the first of two equal sections or
// keys counts; lines starting with ';' are comments. The file is read as
// UTF-16 when it begins with its byte order mark, as UTF-8 after the UTF-8
// mark, else in code page 1252.
#pragma once

#include "platform/types.h"

extern "C" {
QLPR_EXPORT DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key,
                                                  LPCWSTR defaultValue, LPWSTR result,
                                                  DWORD size, LPCWSTR fileName);
}
