// The files of resources/ compiled into the control at build time (qv_embed_files).
#pragma once

#include <cstddef>

extern const unsigned char kEmbedded_quelvora_tlb_json[];
extern const std::size_t kEmbedded_quelvora_tlb_json_size;
extern const unsigned char kEmbedded_toolbox_bmp[];
extern const std::size_t kEmbedded_toolbox_bmp_size;
extern const unsigned char kEmbedded_quelvora_ico[];
extern const std::size_t kEmbedded_quelvora_ico_size;
