#include "gst/user_name.h"

#include <glib.h>

#include <cstdlib>

namespace {

std::string CodePage() {
  const char* env = std::getenv("QUELVORA_CODEPAGE");
  const int number = env != nullptr ? std::atoi(env) : 0;
  return "CP" + std::to_string(number > 0 ? number : 936);
}

}  // namespace

std::string UserNameToUtf8(const std::string& bytes) {
  const std::string from = CodePage();
  std::string out;
  std::size_t start = 0;
  while (start < bytes.size()) {
    gsize read = 0;
    gsize written = 0;
    GError* error = nullptr;
    gchar* text = g_convert(bytes.data() + start, static_cast<gssize>(bytes.size() - start), "UTF-8",
                            from.c_str(), &read, &written, &error);
    if (text != nullptr) {
      out.append(text, written);
      g_free(text);
      // What is left is the start of a character the field cut off.
      if (start + read < bytes.size()) out += "\xEF\xBF\xBD";
      break;
    }
    const bool badByte = g_error_matches(error, G_CONVERT_ERROR, G_CONVERT_ERROR_ILLEGAL_SEQUENCE) ||
                         g_error_matches(error, G_CONVERT_ERROR, G_CONVERT_ERROR_PARTIAL_INPUT);
    g_clear_error(&error);
    if (!badByte) {
      // No such code page here: the bytes as they are, where they are UTF-8.
      gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
      std::string result(valid);
      g_free(valid);
      return result;
    }
    // The part before the bad byte, then a replacement for it.
    if (read > 0) out += UserNameToUtf8(bytes.substr(start, read));
    out += "\xEF\xBF\xBD";
    start += read + 1;
  }
  return out;
}

std::string UserNameFromUtf8(const char* utf8) {
  if (utf8 == nullptr) return {};
  gsize written = 0;
  gchar* bytes =
      g_convert_with_fallback(utf8, -1, CodePage().c_str(), "UTF-8", "?", nullptr, &written, nullptr);
  if (bytes == nullptr) return utf8;
  std::string out(bytes, written);
  g_free(bytes);
  return out;
}
