// The control's fixed identifiers: classes, ProgIDs, type library, DISPIDs.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Tarnet.h"  // generated from Tarnet.idl: LIBID, DIIDs, CLSID_Tarnet

namespace tarnet {

// {EE9318CD-0B46-4F23-957C-3AA7C37F29A5}
inline constexpr CLSID CLSID_TarnetPropPage = {
    0xEE9318CD, 0x0B46, 0x4F23, {0x95, 0x7C, 0x3A, 0xA7, 0xC3, 0x7F, 0x29, 0xA5}};

inline constexpr wchar_t kControlProgId[] = L"TARNET.TarnetCtrl.1";
inline constexpr wchar_t kPageProgId[] = L"TARNET.TarnetPropPage.1";

inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;
inline constexpr LCID kTypeLibLocale = 0x409;

// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
inline constexpr DWORD kMiscStatus = 0x20191;

inline constexpr std::int16_t kDefaultPort = 5768;

// Dispatch IDs of _DTarnet and _DTarnetEvents.
enum : DISPID {
    kDispDefaultPort = 1,
    kDispConnectToServer = 2,
    kDispConnectToServerH = 3,
    kDispEnableUpload = 4,
    kDispEnabledUploadH = 5,
    kDispSendData = 6,
    kDispSendDataH = 7,
    kDispDisconnect = 8,
    kDispDisconnectH = 9,
    kDispDisconnectAll = 10,
    kDispDroppedReports = 11,
    kDispAboutBox = -552,
};

enum : DISPID {
    kEventDataReceive = 1,
    kEventReConnect = 2,
    kEventFailedConnect = 3,
};

}  // namespace tarnet
