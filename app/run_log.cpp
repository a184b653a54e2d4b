#include "app/run_log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "app/exit_codes.h"

namespace {
RunLogSink g_sink = nullptr;
RunLogFlushFn g_flush = nullptr;
}  // namespace

void SetRunLogFlush(RunLogFlushFn flush) {
  g_flush = flush;
}

void RunLogFlush() {
  if (g_flush) g_flush();
}

void SetRunLogSink(RunLogSink sink) {
  g_sink = sink;
}

bool RunLogEnabled() {
  return g_sink != nullptr;
}

std::string FitRunLogEvent(const std::string& event, size_t limit) {
  if (event.size() <= limit) return event;
  constexpr size_t kMark = sizeof kRunLogCutMark - 1;
  if (limit <= kMark) return std::string(kRunLogCutMark).substr(0, limit);
  size_t end = limit - kMark;
  // Back to the first byte of a character: continuation bytes are 10xxxxxx.
  while (end > 0 && (static_cast<unsigned char>(event[end]) & 0xC0) == 0x80) --end;
  return event.substr(0, end) + kRunLogCutMark;
}

void RunLog(const char* format, ...) {
  if (!g_sink) return;
  char small[1024];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    g_sink(small);
    return;
  }
  // Longer than most: formatted whole, then fitted.
  std::vector<char> whole(static_cast<size_t>(n) + 1);
  std::vsnprintf(whole.data(), whole.size(), format, again);
  va_end(again);
  g_sink(FitRunLogEvent(std::string(whole.data(), static_cast<size_t>(n)), kRunLogEventMax));
}

std::string StatusForLog(TbtStatus status) {
  char text[64];
  const char* name = StatusName(status);
  std::snprintf(text, sizeof text, "0x%08X %s", static_cast<unsigned>(status), name ? name : "provider code");
  return text;
}

std::string ExitCodeForLog(uint32_t code) {
  char text[80];
  const ExitCodeRow* row = FindExitCode(code);
  std::snprintf(text, sizeof text, "0x%08X %s", static_cast<unsigned>(code),
                row && row->name ? row->name : "provider code");
  return text;
}
