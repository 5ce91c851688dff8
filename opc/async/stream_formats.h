// The three clipboard formats of the OPC DA 1.0 data-object streams, registered by name with
// the system at start-up and indexed in this order. The index is also the connection number
// a client gets from IDataObject::DAdvise for a format.
#pragma once

#include <windows.h>

#include <objidl.h>

namespace porvex::opc {

enum TStreamFormat : int {
    sfData = 0,           // "OPCSTMFORMATDATA": values without time stamps
    sfDataTime = 1,       // "OPCSTMFORMATDATATIME": values with time stamps
    sfWriteComplete = 2,  // "OPCSTMFORMATWRITECOMPLETE": results of writes
};
inline constexpr int kStreamFormatCount = 3;

// The registered name of format index.
const wchar_t* StreamFormatName(int index) noexcept;

// Registers the three formats (again is harmless: the system returns the same IDs).
// EOpcServer "Could not register <name> clip format" when the system refuses one.
void RegisterStreamFormats();

// The registered ID of format index; 0 before registration.
CLIPFORMAT StreamClipFormat(int index) noexcept;
// The index of a registered ID; -1 for any other format.
int StreamFormatIndex(CLIPFORMAT format) noexcept;

}  // namespace porvex::opc
