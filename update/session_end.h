// Whether the session is ending, and whether the run handed the image over:
// one lock, so that the two never cross. Either the run hands the image over
// before the session end is known (the write runs and is waited for), or it
// sees the end and never does. Owned by the run (the window, or a silent
// run), told from the thread that answers the session's messages, read by the
// worker between its steps.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class SessionEnd {
 public:
  SessionEnd() = default;
  SessionEnd(const SessionEnd&) = delete;
  SessionEnd& operator=(const SessionEnd&) = delete;

  // The session is ending; from any thread, any number of times. True when
  // the image was already handed over (the caller must wait for the write).
  bool Request();
  bool Requested() const;

  // The run's last step before the provider may write: false once the
  // session is ending; otherwise marks the image as handed over.
  bool BeginHandOver();
  bool HandedOver() const;

  // Waits `milliseconds`, or less when the session starts to end; true when
  // it is ending.
  bool WaitFor(uint32_t milliseconds);

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_ending;
  bool m_bRequested = false;
  bool m_bHandedOver = false;
};
