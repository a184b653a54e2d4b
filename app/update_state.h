// The fields that the update dialog and the update worker share. The worker
// writes m_dwStatus and reads m_bDowngradable; the dialog reads m_dwStatus only
// after the worker's thread has ended, which is the only synchronisation.
#pragma once

#include <cstdint>

class SessionEnd;

struct UpdateState {
  int32_t m_nScreenClass = -1;     // -1 no layout yet, 0 small (0.5), 1 large (1.0)
  uint32_t m_nSpinnerImage = 141;  // art id of the spinner frame shown next, 141..148
  uint32_t m_dwStatus = 0;         // outcome of the update attempt
  int32_t m_bDowngradable = 0;     // BOOL: an older image may be written
  uint16_t m_wLangId = 0;          // LANGID selecting the Update.ini texts
  int32_t m_bCheckOnly = 0;        // BOOL: check and apply the policy, never write
  // Told when the session ends; owned by the run (update/session_end.h). Null:
  // a run no session end reaches.
  SessionEnd* m_pSessionEnd = nullptr;
  // BOOL: this image was written earlier since the computer started, so the
  // run did nothing and its success is that one's.
  int32_t m_bAlreadyWritten = 0;
};
