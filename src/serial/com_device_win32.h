#pragma once
// Pieces of the Windows backend that are pure translations between the
// component's settings and the Win32 records; apart for the tests.

#include "com_device.h"

#include <windows.h>

// Changes the members of Dcb that Settings govern: speed, size, parity and
// stop bits unless Default, the five characters, the DTR/RTS/XON-XOFF modes
// unless Default, both limits, the eight option flags. Every other member
// (fBinary among them) keeps what the driver reported.
void ComposeDcb(DCB& Dcb, const TLineSettings& Settings);

// ClearCommError's CE_* flags as the component's set.
TLineErrors LineErrorsFromFlags(DWORD Flags);
// GetCommModemStatus's MS_*_ON bits as the component's set.
TModemStatus ModemStatusFromBits(DWORD Bits);

// The class SetPriorityClass takes for a non-default member; 0 for pcDefault.
DWORD PriorityClassValue(TPriorityClass Class);
