// The version block of the module: 3.3.0.29, language block "040904b0", self-registering.
#include "resources/module_resources.h"

namespace {

constexpr VersionString kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "Quelvora for Linux developers"},
    {"FileDescription", "Oskavelle ActiveX Control Module"},
    {"FileVersion", "3, 3, 0, 29"},
    {"InternalName", "Oskavelle"},
    {"LegalCopyright", "Copyright (C) 2026 Quelvora for Linux developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "Oskavelle.OCX"},
    {"PrivateBuild", ""},
    {"ProductName", "Oskavelle ActiveX Control Module"},
    {"ProductVersion", "3, 3, 0, 29"},
    {"SpecialBuild", ""},
    // Present and empty: the module registers itself.
    {"OLESelfRegister", ""},
};

constexpr VersionInfo kVersion{{3, 3, 0, 29}, {3, 3, 0, 29}, "040904b0", kStrings};

}  // namespace

const VersionInfo& QuelvoraVersionInfo() { return kVersion; }
