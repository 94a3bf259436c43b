// The plugin: quelvorasrc and quelvorasink, our datagrams in GStreamer pipelines.
#include <gst/gst.h>

#include "gst/quelvora_sink.h"
#include "gst/quelvora_src.h"

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  return gst_element_register(plugin, "quelvorasrc", GST_RANK_NONE, GST_TYPE_QUELVORA_SRC) &&
         gst_element_register(plugin, "quelvorasink", GST_RANK_NONE, GST_TYPE_QUELVORA_SINK);
}

}  // namespace

#define PACKAGE "quelvora"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quelvora,
                  "Quelvora datagrams: receive a sender's video, send video as a control does", PluginInit,
                  QV_VERSION, "Proprietary", "Quelvora", "Quelvora for Linux")
