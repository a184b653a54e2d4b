#include "app/run_log.h"

#include <cstdarg>
#include <cstdint>
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
  // Every event passes here, whatever it quotes (arguments, paths, provider
  // strings): escaped once, so no quoted text can start a line of its own.
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    g_sink(FitRunLogEvent(EscapeControls(std::string(small, static_cast<size_t>(n))), kRunLogEventMax));
    return;
  }
  // Longer than most: formatted whole, then fitted.
  std::vector<char> whole(static_cast<size_t>(n) + 1);
  std::vsnprintf(whole.data(), whole.size(), format, again);
  va_end(again);
  g_sink(FitRunLogEvent(EscapeControls(std::string(whole.data(), static_cast<size_t>(n))), kRunLogEventMax));
}

namespace {

// "\r", "\n", "\t" or "\x1b" (a backslash stays one: paths are full of
// them, and none can end a line); "\u0085" and the like for a
// control or line-separating character beyond ASCII.
template <typename Out>
void AppendEscape(Out& out, uint32_t c) {
  const char* named = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : nullptr;
  char text[8];
  if (!named) {
    std::snprintf(text, sizeof text, c < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
    named = text;
  }
  for (const char* p = named; *p; ++p) out += static_cast<typename Out::value_type>(*p);
}

bool NeedsEscape(uint32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::string EscapeControls(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    // U+0080..U+009F are C2 80..C2 9F; U+2028 and U+2029 are E2 80 A8/A9.
    if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F &&
        static_cast<unsigned char>(utf8[i + 1]) >= 0x80) {
      AppendEscape(out, static_cast<unsigned char>(utf8[++i]));
    } else if (b == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
      AppendEscape(out, 0x2000u + static_cast<unsigned char>(utf8[i + 2]) - 0x80u);
      i += 2;
    } else if (b < 0x80 && NeedsEscape(b)) {
      AppendEscape(out, b);
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

std::wstring EscapeControls(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (NeedsEscape(static_cast<uint32_t>(c)))
      AppendEscape(out, static_cast<uint32_t>(c));
    else
      out += c;
  }
  return out;
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
