// Script values as a container passes them to a control's dispatch interface, and results back.
#pragma once

#include <QJSValue>

#include "platform/com/variant.h"

// Booleans, numbers (a whole number that fits a long as VT_I4, any other as VT_R8), texts (as
// UTF-16), null as the null text and undefined as empty. Anything else becomes its text.
CComVariant ToVariant(const QJSValue& v);

// VT_BOOL, VT_I2, VT_I4 and VT_R8 as their script values; anything else is undefined.
QJSValue FromVariant(const VARIANT& v);
