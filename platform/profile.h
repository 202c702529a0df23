// Reading INI-format files, with the platform's own rules:
// - section == null: the names of all sections, each ended by 0, the list
//   ended by a second 0; a list that does not fit is cut, ended by two
//   zeros, and the result is size - 2. A list fits only when the buffer is
//   larger than it: a list exactly filling the buffer also gives size - 2
//   (its characters complete).
// - key == null: the keys of the section, the same way; a missing section,
//   or one without keys, gives the default instead.
// - otherwise the key's value, blanks around it removed and one pair of
//   matching quotes taken off; a value that does not fit is cut to size - 1
//   characters and the result is size - 1.
// - a missing file, section or key gives the default (null: empty) without
//   its trailing spaces; its first character always stays, so a default of
//   " " gives " " (length 1). The default keeps its quotes.
// - a null result or a size of 0: 0, nothing written.
// Names compare without regard to ASCII case, blanks around them (in the
// file and in the call) do not count; the first of two equal sections or
// keys counts, also in the lists (which name each only once); lines
// starting with ';' are comments. In a section, a line without '=' is a key
// with an empty value; "[name]" ends at the last ']' of its line; lines
// before the first section belong to none. The file is read as UTF-16
// (either byte order) when it begins with its byte order mark, as UTF-8
// after the UTF-8 mark, else in code page 1252. The file name is a path as
// it stands (no search of a system folder). Last error: ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND when the default was given, ERROR_MORE_DATA when cut.
#pragma once

#include "platform/types.h"

extern "C" {
QLPR_EXPORT DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key,
                                                  LPCWSTR defaultValue, LPWSTR result,
                                                  DWORD size, LPCWSTR fileName);
}
