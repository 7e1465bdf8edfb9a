// Identifiers and names hosts and the registry know the module by. The type
// library's description (scripts/gen_entries.py) carries the same identifiers;
// registration checks that the embedded type library agrees.
#pragma once

#include <windows.h>

namespace tarvion::com {

// TarvionLib 1.0
inline constexpr GUID kLibId = {0x0D6F643A, 0x0BA4, 0x419E, {0x8B, 0x07, 0xE2, 0xEB, 0x23, 0x5A, 0x65, 0x43}};
inline constexpr WORD kLibMajor = 1, kLibMinor = 0;
// _DTarvion, the dispatch interface
inline constexpr GUID kDispatchIid = {0x2FD5563F, 0xC739, 0x41F1, {0x82, 0xE3, 0x8E, 0x35, 0xBC, 0x0F, 0xF5, 0x93}};
// _DTarvionEvents, the (empty) event interface
inline constexpr GUID kEventsIid = {0x5FAF3A9B, 0x70FB, 0x48F1, {0x8C, 0x71, 0x3C, 0x6D, 0xD5, 0xFC, 0x17, 0x2B}};
// CTarvionCtrl
inline constexpr GUID kControlClsid = {0xE6F0942A, 0x3030, 0x43AA, {0x8C, 0x6E, 0xF3, 0xB5, 0x30, 0x5C, 0x27, 0xD8}};
// CTarvionPropPage
inline constexpr GUID kPropPageClsid = {0xA68663A8, 0xF6CD, 0x4235, {0x84, 0x2E, 0x28, 0xEF, 0x26, 0xBB, 0x4A, 0x47}};

inline constexpr const wchar_t* kControlProgId = L"Tarvion.TarvionCtrl.1";
inline constexpr const wchar_t* kPropPageProgId = L"TARVION.TarvionPropPage.1";

// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
inline constexpr DWORD kMiscStatus = 132241;

}  // namespace tarvion::com
