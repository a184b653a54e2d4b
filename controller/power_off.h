// Powers the machine off after a successful update and closes the dialog,
// whether or not the system accepted the power-off.
#pragma once

#include <windows.h>

void PowerOffMachine(HWND hwndDialog);
