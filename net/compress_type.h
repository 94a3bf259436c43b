// The compress type: "MPEG4", "H.261" or "H.263".
#pragma once

// The stored type a host text selects ("261" first, then "263", then "MPEG4", case-sensitive
// substrings), or nullptr when it selects none.
const char* CompressTypeFromText(const char* text);

// The receiver and the sender read every datagram as a whole frame / send nothing for these.
bool IsH26xCompressType(const char* type);
