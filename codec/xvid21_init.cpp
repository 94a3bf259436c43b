// xvid_init: the library's global initialisation, once per process, and the version this interface
// reports for the library that is linked.
#include <cstring>
#include <mutex>
#include <optional>

#include "codec/api4.h"
#include "codec/xvid21.h"

namespace xvid21 {

namespace {

struct LibraryState {
  int nResult;    // of XVID_GBL_INIT
  int nVersion;   // actual_version from XVID_GBL_INFO
  int nApiMajor;  // API major that version stands for
};

// A library of the header's own version major speaks the header's API; one of another major is taken to
// speak an older or a newer one.
int ApiMajorOf(int libraryVersion) {
  const int major = XVID_VERSION_MAJOR(libraryVersion);
  if (major == codec::api4::kHeaderVersionMajor) return codec::api4::kHeaderApiMajor;
  return major < codec::api4::kHeaderVersionMajor ? codec::api4::kHeaderApiMajor - 1
                                                  : codec::api4::kHeaderApiMajor + 1;
}

// The initialisation rewrites the library's function tables; running it again while another control's
// streaming thread encodes would race with that encoder, so it runs once.
const LibraryState& Library() {
  static const LibraryState state = [] {
    LibraryState s{};
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof init);
    init.version = XVID_VERSION;
    init.cpu_flags = 0;
    s.nResult = xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    xvid_gbl_info_t info;
    std::memset(&info, 0, sizeof info);
    info.version = XVID_VERSION;
    s.nVersion = xvid_global(nullptr, XVID_GBL_INFO, &info, nullptr) >= 0 ? info.actual_version : 0;
    s.nApiMajor = ApiMajorOf(s.nVersion);
    return s;
  }();
  return state;
}

std::mutex g_injectionMutex;
std::optional<InitInjection> g_injection;

}  // namespace

int ReportedApiVersion(int api4Major) {
  if (api4Major == 4) return API_VERSION;
  return api4Major < 4 ? 0x00020000 : 0x00030000;
}

int xvid_init(void* /*handle*/, int /*opt*/, XVID_INIT_PARAM* param1, void* /*param2*/) {
  if (param1 == nullptr) return XVID_ERR_FAIL;
  std::optional<InitInjection> injection;
  {
    std::lock_guard lock(g_injectionMutex);
    injection = g_injection;
  }
  const LibraryState& library = Library();
  const bool fail = injection ? injection->bFail : library.nResult < 0;
  if (fail) return XVID_ERR_FAIL;
  param1->api_version = ReportedApiVersion(injection ? injection->nApiMajor : library.nApiMajor);
  param1->core_build = library.nVersion;
  return XVID_ERR_OK;
}

void InjectInitForTest(const InitInjection& injection) {
  std::lock_guard lock(g_injectionMutex);
  g_injection = injection;
}

void ClearInitInjectionForTest() {
  std::lock_guard lock(g_injectionMutex);
  g_injection.reset();
}

}  // namespace xvid21

bool codec::api4::EnsureInitialised() { return xvid21::Library().nResult >= 0; }
