// The compress type: "MPEG4", "H.261" or "H.263".
#pragma once

constexpr const char kCompressTypeH261[] = "H.261";
constexpr const char kCompressTypeH263[] = "H.263";
constexpr const char kCompressTypeMpeg4[] = "MPEG4";

// The stored type a host text selects ("261" first, then "263", then "MPEG4", case-sensitive
// substrings), or nullptr when it selects none.
const char* CompressTypeFromText(const char* text);

// Exact, case-sensitive comparison of a whole compress type text (null matches nothing).
bool IsCompressType(const char* compressType, const char* type);

// The receiver and the sender read every datagram as a whole frame / send nothing for these.
bool IsH26xCompressType(const char* type);
