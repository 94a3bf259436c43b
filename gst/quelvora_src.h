// quelvorasrc: one sender's video from our datagrams, as MPEG-4 frames.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_QUELVORA_SRC (gst_quelvora_src_get_type())
G_DECLARE_FINAL_TYPE(GstQuelvoraSrc, gst_quelvora_src, GST, QUELVORA_SRC, GstPushSrc)

G_END_DECLS
