// The identities of the control class and its type library, and the constants its registration
// writes.
#pragma once

#include "platform/com/guid.h"
#include "platform/ui/oleobject.h"

// {3C8E4A51-7B2D-4F19-A6C3-5E1D9B0F7A21}
inline constexpr CLSID CLSID_Quelvora{
    0x3C8E4A51, 0x7B2D, 0x4F19, {0xA6, 0xC3, 0x5E, 0x1D, 0x9B, 0x0F, 0x7A, 0x21}};
// {3C8E4A52-7B2D-4F19-A6C3-5E1D9B0F7A21}
inline constexpr GUID LIBID_QUELVORALib{
    0x3C8E4A52, 0x7B2D, 0x4F19, {0xA6, 0xC3, 0x5E, 0x1D, 0x9B, 0x0F, 0x7A, 0x21}};
// {3C8E4A53-7B2D-4F19-A6C3-5E1D9B0F7A21}
inline constexpr IID DIID__DQuelvora{
    0x3C8E4A53, 0x7B2D, 0x4F19, {0xA6, 0xC3, 0x5E, 0x1D, 0x9B, 0x0F, 0x7A, 0x21}};
// {3C8E4A54-7B2D-4F19-A6C3-5E1D9B0F7A21}
inline constexpr IID DIID__DQuelvoraEvents{
    0x3C8E4A54, 0x7B2D, 0x4F19, {0xA6, 0xC3, 0x5E, 0x1D, 0x9B, 0x0F, 0x7A, 0x21}};

inline constexpr const char* kQuelvoraProgID = "QUELVORA.QuelvoraCtrl.1";
inline constexpr WORD kQuelvoraVerMajor = 1;
inline constexpr WORD kQuelvoraVerMinor = 0;

// Resource IDs of the module.
constexpr UINT IDS_QUELVORA = 1;          // the user type name
constexpr UINT IDB_QUELVORA = 1;          // the toolbox bitmap
constexpr UINT IDI_ABOUTDLL = 1;          // the module's icon
constexpr UINT IDR_QUELVORA_TYPELIB = 1;  // the type library
constexpr UINT VS_VERSION_INFO = 1;

inline constexpr DWORD kQuelvoraMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                                             OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                             OLEMISC_RECOMPOSEONRESIZE;
static_assert(kQuelvoraMiscStatus == 131473);
