#include "update/session_end.h"

#include <chrono>

bool SessionEnd::Request() {
  bool bHandedOver = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bRequested = true;
    bHandedOver = m_bHandedOver;
  }
  m_ending.notify_all();
  return bHandedOver;
}

bool SessionEnd::Requested() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bRequested;
}

bool SessionEnd::BeginHandOver() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bRequested) return false;
  m_bHandedOver = true;
  return true;
}

bool SessionEnd::HandedOver() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bHandedOver;
}

bool SessionEnd::WaitFor(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_ending.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bRequested; });
}
