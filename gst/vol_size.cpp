#include "gst/vol_size.h"

#define GST_USE_UNSTABLE_API
#include <gst/codecparsers/gstmpeg4parser.h>

namespace {

bool IsVolStartCode(GstMpeg4StartCode type) {
  return type >= GST_MPEG4_VIDEO_LAYER_FIRST && type <= GST_MPEG4_VIDEO_LAYER_LAST;
}

// The video object layer header before the frame's picture (the first VOP), if any.
bool FindVol(const std::uint8_t* frame, std::size_t length, GstMpeg4Packet* vol) {
  guint offset = 0;
  GstMpeg4Packet packet{};
  while (offset < length) {
    const GstMpeg4ParseResult result = gst_mpeg4_parse(&packet, FALSE, nullptr, frame, offset, length);
    if (result != GST_MPEG4_PARSER_OK && result != GST_MPEG4_PARSER_NO_PACKET_END) return false;
    if (packet.type == GST_MPEG4_VIDEO_OBJ_PLANE) return false;
    if (IsVolStartCode(packet.type)) {
      // The last packet of the frame runs to its end.
      if (result == GST_MPEG4_PARSER_NO_PACKET_END) packet.size = length - packet.offset;
      *vol = packet;
      return true;
    }
    if (result == GST_MPEG4_PARSER_NO_PACKET_END) return false;
    const guint next = packet.offset + static_cast<guint>(packet.size);
    if (next <= offset) return false;
    offset = next;
  }
  return false;
}

}  // namespace

bool ReadVolSize(const std::uint8_t* frame, std::size_t length, PictureSize* size) {
  GstMpeg4Packet packet{};
  if (!FindVol(frame, length, &packet)) return false;
  GstMpeg4VideoObjectLayer vol{};
  if (gst_mpeg4_parse_video_object_layer(&vol, nullptr, packet.data + packet.offset, packet.size) !=
          GST_MPEG4_PARSER_OK ||
      vol.width == 0 || vol.height == 0)
    return false;
  size->width = vol.width;
  size->height = vol.height;
  return true;
}

bool HasVolHeader(const std::uint8_t* frame, std::size_t length) {
  GstMpeg4Packet packet{};
  return FindVol(frame, length, &packet);
}
