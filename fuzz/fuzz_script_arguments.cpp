// Script values through the host's argument conversion into the control's methods: a script's
// booleans, numbers (whole, fractional, huge, NaN, infinite, -0), texts (any UTF-16, lone
// surrogates included), null and undefined become variants, are coerced to each parameter's
// type, reach the control as numbers and ANSI texts, and the result comes back as a script value.
//
// Input: calls of [method byte][argument count byte][arguments], each argument a kind byte and its
// bytes. The methods are those that keep settings or work on the client table (none opens a socket,
// a device, a file or a box), on one control for the whole run; the count may be wrong on purpose.
//
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs into dir and exits.
#include <QApplication>
#include <QJSValue>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "control/quelvora_factory.h"
#include "fuzz/seeds.h"
#include "hosts/quelvora-host/script_values.h"
#include "platform/com/dispatch.h"

namespace {

constexpr const char* kMethods[] = {
    "GetErrorID",       "SetLanguageVersion",
    "ShowErrorDialog",  "SetUserName",
    "SetSendFrameRate", "SetBandwidth",
    "SetVideoInFormat", "SetVideoOutFormat",
    "SetCompressType",  "SetRemoteIPAddress",
    "AddClient",        "RemoveClient",
    "RemoveClientAll",  "Forward",
    "UnForward",        "UnForwardAll",
    "ShowClient",       "UseSameSocketForSendAndRecv",
};
constexpr std::size_t kMethodCount = sizeof kMethods / sizeof kMethods[0];
constexpr int kAddClient = 10;

// Reads the input front to back; past its end every read gives zeros.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  bool More() const { return size > 0; }
  std::uint8_t Byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
  template <class T>
  T Raw() {
    T value{};
    const std::size_t n = std::min(size, sizeof value);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
  }
};

QJSValue ReadValue(Reader& in) {
  switch (in.Byte() % 7) {
    case 0:
      return QJSValue((in.Byte() & 1) != 0);
    case 1:
      return QJSValue(in.Raw<double>());  // every bit pattern: NaN, infinities, -0, huge, tiny
    case 2:
      return QJSValue(static_cast<double>(in.Raw<std::int32_t>()));
    case 3: {  // UTF-16 code units as they come
      QString text;
      for (int n = in.Byte(); n > 0 && in.More(); --n) text.append(QChar(in.Raw<char16_t>()));
      return QJSValue(text);
    }
    case 4: {  // Latin-1 text, as number-like and address-like texts mostly are
      std::string text;
      for (int n = in.Byte(); n > 0 && in.More(); --n) text.push_back(static_cast<char>(in.Byte()));
      return QJSValue(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    }
    case 5:
      return QJSValue(QJSValue::NullValue);
    default:
      return QJSValue(QJSValue::UndefinedValue);
  }
}

bool Offscreen() { return setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0; }

struct Fixture {
  bool offscreen = Offscreen();
  int argc = 1;
  char name[8] = "fuzz";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
  IDispatch* control = nullptr;
  DISPID ids[kMethodCount] = {};

  Fixture() {
    if (FAILED(QuelvoraFactory().CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control))))
      std::abort();
    for (std::size_t i = 0; i < kMethodCount; ++i)
      if (FAILED(control->GetIDsOfNames(kMethods[i], &ids[i]))) std::abort();
  }
};

using Bytes = std::string;

Bytes Text(char kind, const std::string& text) {
  Bytes out{kind, static_cast<char>(text.size())};
  for (char c : text) {
    out.push_back(c);
    if (kind == 3) out.push_back('\0');  // UTF-16
  }
  return out;
}

Bytes Number(double d) { return Bytes(1, '\1') + Bytes(reinterpret_cast<const char*>(&d), sizeof d); }

Bytes Call(int method, std::initializer_list<Bytes> args) {
  Bytes out{static_cast<char>(method), static_cast<char>(args.size())};
  for (const Bytes& a : args) out += a;
  return out;
}

// Calls as scripts make them, with well-formed arguments, and one number no long holds.
void WriteSeeds(const std::string& dir) {
  fuzz_seeds::Write(dir, "settings",
                    Call(3, {Text(3, "Alice")}) + Call(4, {Number(15)}) +
                        Call(5, {Number(250000), Number(1)}) + Call(6, {Text(4, "4CIF")}) +
                        Call(7, {Text(4, "352*288")}) + Call(8, {Text(4, "H.263")}) +
                        Call(9, {Text(4, "127.0.0.1"), Number(5000)}));
  fuzz_seeds::Write(dir, "clients",
                    Call(kAddClient, {Text(4, "10.0.0.1"), Number(4000), Bytes(1, '\5'), Text(3, "peer")}) +
                        Call(13, {Number(1), Number(1)}) + Call(16, {Number(1)}) + Call(11, {Number(1)}) +
                        Call(12, {}));
  fuzz_seeds::Write(dir, "odd_values", Call(4, {Number(1e300)}));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  Reader in{data, size};
  while (in.More()) {
    const std::size_t method = in.Byte() % kMethodCount;
    DISPPARAMS params;
    for (int n = in.Byte() % 6; n > 0; --n) params.rgvarg.push_back(ToVariant(ReadValue(in)));
    // A recording file would make the run write files and show boxes: AddClient records nothing here.
    if (method == kAddClient && params.rgvarg.size() > 2) params.rgvarg[2] = CComVariant::NullText();
    CComVariant result;
    EXCEPINFO info;
    fixture.control->Invoke(fixture.ids[method], params, &result, &info, nullptr);
    FromVariant(result);
  }
  return 0;
}
