#include "app/run_log.h"

#include <cstdarg>
#include <cstdio>

namespace {
RunLogSink g_sink = nullptr;
}  // namespace

void SetRunLogSink(RunLogSink sink) {
  g_sink = sink;
}

bool RunLogEnabled() {
  return g_sink != nullptr;
}

void RunLog(const char* format, ...) {
  if (!g_sink) return;
  char line[1001];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n >= 0) g_sink(line);
}

std::string StatusForLog(TbtStatus status) {
  char text[64];
  const char* name = StatusName(status);
  std::snprintf(text, sizeof text, "0x%08X %s", static_cast<unsigned>(status), name ? name : "provider code");
  return text;
}
