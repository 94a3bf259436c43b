#include "control/error_table.h"

#include <cstdio>

namespace {

struct ErrorEntry {
  int id;
  const char* english;
  const char* chinese;
};

// clang-format off
constexpr ErrorEntry kErrors[] = {
  {ERR_CONNECT_DRIVER_FAILED, "Connect video driver failed,please check your video device!",
   // 连接视频驱动失败,请确信视频设备工作正常!
   "\xC1\xAC\xBD\xD3\xCA\xD3\xC6\xB5\xC7\xFD\xB6\xAF\xCA\xA7\xB0\xDC,\xC7\xEB\xC8\xB7\xD0\xC5\xCA\xD3\xC6\xB5"
   "\xC9\xE8\xB1\xB8\xB9\xA4\xD7\xF7\xD5\xFD\xB3\xA3!"},
  {ERR_DRIVER_ALREADY_CONNECTED, "Already connected video driver!",
   // 已经连接视频驱动!
   "\xD2\xD1\xBE\xAD\xC1\xAC\xBD\xD3\xCA\xD3\xC6\xB5\xC7\xFD\xB6\xAF!"},
  {ERR_GET_AUDIO_FORMAT_FAILED, "Get audio format failed!",
   // 取得音频格式失败!
   "\xC8\xA1\xB5\xC3\xD2\xF4\xC6\xB5\xB8\xF1\xCA\xBD\xCA\xA7\xB0\xDC!"},
  {ERR_DRIVER_NOT_CONNECTED, "Have NOT connect video driver!",
   // 没有连接视频驱动!
   "\xC3\xBB\xD3\xD0\xC1\xAC\xBD\xD3\xCA\xD3\xC6\xB5\xC7\xFD\xB6\xAF!"},
  {ERR_GET_VIDEO_FORMAT_FAILED, "Get video format failed!",
   // 取得视频格式失败!
   "\xC8\xA1\xB5\xC3\xCA\xD3\xC6\xB5\xB8\xF1\xCA\xBD\xCA\xA7\xB0\xDC!"},
  {ERR_VIDEO_FORMAT_NOT_SUPPORTED, "The video format is NOT support!",
   // 不支持的视频压缩格式!
   "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xCA\xD3\xC6\xB5\xD1\xB9\xCB\xF5\xB8\xF1\xCA\xBD!"},
  {ERR_NOT_SENDING, "Have NOT send video!",
   // 没有开始发送视频!
   "\xC3\xBB\xD3\xD0\xBF\xAA\xCA\xBC\xB7\xA2\xCB\xCD\xCA\xD3\xC6\xB5!"},
  {ERR_ALREADY_RECEIVING, "Already started receive video!",
   // 已经开始接受视频流!
   "\xD2\xD1\xBE\xAD\xBF\xAA\xCA\xBC\xBD\xD3\xCA\xDC\xCA\xD3\xC6\xB5\xC1\xF7!"},
  {ERR_NOT_RECEIVING, "Have NOT started receive video!",
   // 没有开始接受视频流!
   "\xC3\xBB\xD3\xD0\xBF\xAA\xCA\xBC\xBD\xD3\xCA\xDC\xCA\xD3\xC6\xB5\xC1\xF7!"},
};

// 错误
constexpr char kCaptionChinese[] = "\xB4\xED\xCE\xF3";

// The English text keeps its full-width comma (A3 AC) between "failed" and "please".
constexpr char kConnectEnglish[] = "Connect video deiver failed\xA3\xACplease check you video device and driver!";
// 连接视频设备失败,请检查视频设备及驱动是否正确安装!
constexpr char kConnectChinese[] =
    "\xC1\xAC\xBD\xD3\xCA\xD3\xC6\xB5\xC9\xE8\xB1\xB8\xCA\xA7\xB0\xDC,\xC7\xEB\xBC\xEC\xB2\xE9\xCA\xD3\xC6\xB5"
    "\xC9\xE8\xB1\xB8\xBC\xB0\xC7\xFD\xB6\xAF\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xB0\xB2\xD7\xB0!";

constexpr char kFormatEnglish[] =
    "Format(%d*%d) camera does NOT support, please refer to camera's speci"
    "fication";
// 格式(%d*%d)摄像头不支持,请查看摄像头说明书!
constexpr char kFormatChinese[] =
    "\xB8\xF1\xCA\xBD(%d*%d)\xC9\xE3\xCF\xF1\xCD\xB7\xB2\xBB\xD6\xA7\xB3\xD6,\xC7\xEB\xB2\xE9\xBF\xB4\xC9\xE3"
    "\xCF\xF1\xCD\xB7\xCB\xB5\xC3\xF7\xCA\xE9!";

// 楷体_GB2312
constexpr char kFaceChinese[] = "\xBF\xAC\xCC\xE5_GB2312";
// clang-format on

}  // namespace

const char* ErrorText(int errorId, int language) {
  if (language != LANGUAGE_CHINESE && language != LANGUAGE_ENGLISH) return nullptr;
  for (const ErrorEntry& e : kErrors)
    if (e.id == errorId) return language == LANGUAGE_CHINESE ? e.chinese : e.english;
  return nullptr;
}

const char* ErrorCaption(int language) { return language == LANGUAGE_CHINESE ? kCaptionChinese : "ERROR"; }

const char* ConnectFailureText(int language) {
  return language == LANGUAGE_CHINESE ? kConnectChinese : kConnectEnglish;
}

FormattedText FormatFailureText(int language, int width, int height) {
  FormattedText out{};
  std::snprintf(out.bytes, sizeof out.bytes, language == LANGUAGE_CHINESE ? kFormatChinese : kFormatEnglish,
                width, height);
  return out;
}

const char* OverlayFace(int language) { return language == LANGUAGE_CHINESE ? kFaceChinese : "Courier New"; }
