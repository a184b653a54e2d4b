// One update per machine. A named mutex in the Global\ namespace, taken
// before anything reaches the device and held until the device is switched
// off and the channel closed, so that two runs (a window and a deployment
// tool, two folders, two sessions) never write or switch the device at once.
// Any process may make an object under that name first; only a mutex at the
// name itself owned by SYSTEM or Administrators counts, so no process without
// administrator rights can stand in for the lock or open a real one. Anything
// else that takes the name first (another owner's mutex, an object of another
// type, a symbolic link) is named as such, by type and owner where readable:
// the run ends, claiming no other update.
#pragma once

#include <windows.h>

// The name every run of the program shares.
extern const wchar_t kUpdateLockName[];

enum class UpdateLockResult {
  kTaken,      // ours now
  kTakenOver,  // ours now; the run that held it ended without releasing it
  kBusy,       // another run holds it, or it could be neither created nor opened
  kNotOurs,    // the name is taken by an object that no run of this tool made (of any type)
};

// Takes the lock without waiting. On kTaken and kTakenOver `hLock` holds it
// until UpdateLockRelease on this same thread; otherwise `hLock` is null.
// Logs the outcome.
UpdateLockResult UpdateLockAcquire(HANDLE& hLock, const wchar_t* pszName = kUpdateLockName);

// Releases a lock taken by UpdateLockAcquire and nulls `hLock`; nothing when null.
void UpdateLockRelease(HANDLE& hLock);
