// quelvorasink: MPEG-4 frames sent as our datagrams, as a sending control sends them.
#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS

#define GST_TYPE_QUELVORA_SINK (gst_quelvora_sink_get_type())
G_DECLARE_FINAL_TYPE(GstQuelvoraSink, gst_quelvora_sink, GST, QUELVORA_SINK, GstBaseSink)

G_END_DECLS
