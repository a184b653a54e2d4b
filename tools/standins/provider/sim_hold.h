// Holding a step of the simulated hardware, so that a test can stop the
// product inside it, not after a guessed sleep. One file handshake, the same
// for the provider, the service and the ACPI driver (qmxacpi.c speaks it too),
// in the stand-in's folder (C:\tbtsim unless %TBTSIM_DIR% names another):
//
//   hold.txt  "STEP K", written by the test: hold the K-th request of STEP
//             that arrives from now on. Each one counts it down; the held one
//             leaves "STEP 0" and waits while the file says so: deleting it,
//             or arming the next step, releases it.
//   hold.log  "t=<unix s.ms> HELD STEP by=WHO WHAT" once the request is held,
//             "t=... RELEASED STEP by=WHO" when it goes on.
//
// Steps: ConnectServer, GetCurrentNvmVersion, ReadFirmware, UpdateFirmware
// (provider, as the call arrives), Put:NAME (provider, an in-parameter's Put);
// ServiceStart (service, before it reports running), WRITE (service, once the
// write has begun); OPEN, DEVS, CLOSE (driver, before the request is served).
#pragma once

#include <string>

// Holds the calling thread while hold.txt in `dir` arms this request of
// `step`. A hold nobody releases ends after ten minutes.
void SimHoldPoint(const std::wstring& dir, const char* step, const char* who, const std::string& what);
