/*
 * The component category of OPC Alarms & Events servers, as the OPC Foundation publishes
 * it: {58E13251-AC87-11D1-84D5-00608CB8A7E9} "OPC Event Server Version 1.0".
 */
#include <windows.h>

const GUID CATID_OPCEventServerCATID = {
    0x58E13251, 0xAC87, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};
