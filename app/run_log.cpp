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
  const size_t room = limit - kMark;
  // The cut falls between two characters and outside an escape ("\\",
  // "\u0085"), so the line stays valid UTF-8 and still reads back.
  size_t end = 0;
  while (end < room) {
    const auto lead = static_cast<unsigned char>(event[end]);
    size_t next = end + 1;
    if (lead == '\\' && end + 1 < event.size())
      next = end + (event[end + 1] == 'x' ? 4 : event[end + 1] == 'u' ? 6 : 2);
    else if (lead >= 0x80)
      next = end + ((lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1);
    if (next > room) break;
    end = next;
  }
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
  // strings): escaped once, so no quoted text can start a line of its own and
  // every line reads back as it was logged.
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    g_sink(FitRunLogEvent(EscapeForLog(std::string(small, static_cast<size_t>(n))), kRunLogEventMax));
    return;
  }
  // Longer than most: formatted whole, then fitted.
  std::vector<char> whole(static_cast<size_t>(n) + 1);
  std::vsnprintf(whole.data(), whole.size(), format, again);
  va_end(again);
  g_sink(FitRunLogEvent(EscapeForLog(std::string(whole.data(), static_cast<size_t>(n))), kRunLogEventMax));
}

namespace {

// "\r", "\n", "\t" or "\x1b"; "\u0085" and the like for a control, line
// separating or direction-changing character beyond ASCII; "\\" for a
// backslash where a line must read back exactly.
template <typename Out>
void AppendEscape(Out& out, uint32_t c) {
  const char* named = c == '\r'   ? "\\r"
                      : c == '\n' ? "\\n"
                      : c == '\t' ? "\\t"
                      : c == '\\' ? "\\\\"
                                  : nullptr;
  char text[8];
  if (!named) {
    std::snprintf(text, sizeof text, c < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
    named = text;
  }
  for (const char* p = named; *p; ++p) out += static_cast<typename Out::value_type>(*p);
}

// Controls, line separators, and the marks and overrides that change the
// direction of the text after them (a quoted name could otherwise show its
// characters in another order than they are).
bool NeedsEscape(uint32_t c, bool bBackslash) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
         c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         (bBackslash && c == '\\');
}

// The character that starts at `utf8[i]` and its length in bytes; an invalid
// or cut sequence is its one byte.
uint32_t DecodeAt(const std::string& utf8, size_t i, size_t& length) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
  const unsigned char lead = byte(0);
  length = 1;
  if (lead < 0x80) return lead;
  const size_t n = (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > utf8.size()) return lead;
  uint32_t c = lead & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return lead;
    c = (c << 6) | (byte(k) & 0x3F);
  }
  length = n;
  return c;
}

std::string Escape(const std::string& utf8, bool bBackslash) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0, length = 1; i < utf8.size(); i += length) {
    const uint32_t c = DecodeAt(utf8, i, length);
    if (NeedsEscape(c, bBackslash))
      AppendEscape(out, c);
    else
      out.append(utf8, i, length);
  }
  return out;
}

}  // namespace

std::string EscapeControls(const std::string& utf8) {
  return Escape(utf8, false);
}

std::string EscapeForLog(const std::string& utf8) {
  return Escape(utf8, true);
}

std::wstring EscapeControls(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (NeedsEscape(static_cast<uint32_t>(c), false))
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
