// The bt:// device scheme: a printer that speaks RFCOMM (Bluetooth serial),
// bt://AA-BB-CC-DD-EE-FF or bt://AA-BB-CC-DD-EE-FF?channel=N (default 1).
#pragma once

// Registers the scheme next to PAPPL's own.
void AddBluetoothScheme();
