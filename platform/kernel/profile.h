// The INI reader behind GetPrivateProfileIntA, over any text stream.
#pragma once

#include <istream>

#include "platform/kernel/windef.h"

// The integer value of `key` in `section` of INI text: section and key names are matched without
// regard to case and with blanks around them ignored, lines starting with ';' are comments, and the
// first matching key counts. Its value is read like the platform reads it: leading digits with an
// optional sign, 0 when there are none. `defaultValue` when the key is not there.
UINT ReadProfileInt(std::istream& in, LPCSTR section, LPCSTR key, INT defaultValue);
