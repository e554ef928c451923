#pragma once
// Hands the serial port's line events to the Qt UI thread, and the errors
// their handlers raise to the standard error box.

void InstallQtSerialEventDelivery();
