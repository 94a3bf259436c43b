// The read-only counters both elements show as properties.
#pragma once

#include <glib-object.h>

inline GParamSpec* FigureProperty(const char* name, const char* nick, const char* blurb) {
  return g_param_spec_uint64(name, nick, blurb, 0, G_MAXUINT64, 0,
                             static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
}
