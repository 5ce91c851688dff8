/*
 * The component categories of OPC Data Access servers, as the OPC Foundation publishes
 * them: {63D5F430-CFE4-11D1-B2C8-0060083BA1FB} "OPC Data Access Servers Version 1.0" and
 * {63D5F432-CFE4-11D1-B2C8-0060083BA1FB} "OPC Data Access Servers Version 2.0".
 */
#include <windows.h>

const GUID CATID_OPCDAServer10 = {
    0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
const GUID CATID_OPCDAServer20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
