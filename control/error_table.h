// Error IDs, their texts in both languages, and the other texts of the control's boxes.
// Chinese texts are GB2312 byte strings; the UTF-8 form is in the comment beside each.
#pragma once

constexpr int ERR_NONE = 0;
constexpr int ERR_CONNECT_DRIVER_FAILED = 1;
constexpr int ERR_DRIVER_ALREADY_CONNECTED = 2;
constexpr int ERR_GET_AUDIO_FORMAT_FAILED = 3;
constexpr int ERR_DRIVER_NOT_CONNECTED = 4;
constexpr int ERR_GET_VIDEO_FORMAT_FAILED = 6;
constexpr int ERR_VIDEO_FORMAT_NOT_SUPPORTED = 7;
constexpr int ERR_NOT_SENDING = 8;
constexpr int ERR_ALREADY_RECEIVING = 9;
constexpr int ERR_NOT_RECEIVING = 10;

constexpr int LANGUAGE_CHINESE = 1;
constexpr int LANGUAGE_ENGLISH = 2;

// The message of an error ID in a language, or nullptr for IDs without one (0, 5, negative,
// above 10) and for languages other than 1 and 2.
const char* ErrorText(int errorId, int language);

// "ERROR" / "错误".
const char* ErrorCaption(int language);

// The connect-failure box of InitCapture.
const char* ConnectFailureText(int language);

// The format-failure box of InitCapture, with width and height in place of its placeholders.
// Returns the formatted bytes.
struct FormattedText {
  char bytes[256];
};
FormattedText FormatFailureText(int language, int width, int height);

// Start-up boxes and the framework boxes (English only).
inline constexpr const char kTextXvidInitFailed[] = "xvid_init() failed";
inline constexpr const char kTextXvidOlder[] = "xvid implements an older api version; reinstall";
inline constexpr const char kTextXvidNewer[] = "xvid implements a newer api version; reinstall";
inline constexpr const char kTextWsaStartupFailed[] = "WSAStartup failed!";
inline constexpr const char kCaptionStartup[] = "Error";
inline constexpr const char kTextSendSocketFailed[] = "Create UDP Socket for send failed !!!";
inline constexpr const char kTextRecvSocketFailed[] = "Create UDP Socket for recv failed !!!";
inline constexpr const char kTextMemoryRunOut[] = "Memory is run out !!!";
inline constexpr const char kTextAviFileOpenWriteFailed[] = "AVI_FileOpenWrite failed";
inline constexpr const char kTextAviCreateStreamFailed[] = "AVI_CreateStream failed";
inline constexpr const char kTextAviSetOptionsFailed[] = "AVI_SetOptions failed";

// Overlay faces by language: "楷体_GB2312" for Chinese, "Courier New" for English.
const char* OverlayFace(int language);
