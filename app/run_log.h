// The support log of one run: events in words, for whoever has to find out
// afterwards what happened on a machine. The program installs a sink (a file)
// when asked for a log; without one every event costs nothing but the test.
#pragma once

#include <cstddef>
#include <string>

#include "app/status.h"

// Receives one event, without time or line end; may be called from any thread.
using RunLogSink = void (*)(const std::string& event);

// Installs the sink (null: none). Set before the worker starts.
void SetRunLogSink(RunLogSink sink);

// Puts what was logged onto the disk, for a line that must outlive a power
// loss; the sink's owner installs it (null: nothing to do).
using RunLogFlushFn = void (*)();
void SetRunLogFlush(RunLogFlushFn flush);
void RunLogFlush();
bool RunLogEnabled();

// The longest event kept whole: room for a path of 32,767 characters of
// three UTF-8 bytes each, with words around it.
constexpr size_t kRunLogEventMax = 128 * 1024;

// One event, printf-style, whole up to kRunLogEventMax bytes. Never the
// image's bytes.
void RunLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// `text` with every control character shown escaped ("\r", "\n", "\t",
// "\x1b", "\u0085"; also U+2028 and U+2029, and the marks and overrides that
// turn the direction of text: U+061C, U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069): text that came from outside (arguments, paths, files,
// provider strings) can then neither forge a line of the log or the console,
// nor steer a terminal, nor show its characters out of order. Every console
// line passes through it; a backslash stays one, as people read paths.
std::string EscapeControls(const std::string& utf8);
std::wstring EscapeControls(const std::wstring& text);

// The same for the log, with a backslash written "\\" too, so that every
// line reads back exactly: "\\" is a backslash, "\r", "\n", "\t", "\xHH" and
// "\uHHHH" the character they name, and nothing else follows a backslash.
std::string EscapeForLog(const std::string& utf8);

// `event` (escaped) as it fits in `limit` bytes: whole, or cut where a UTF-8
// character or an escape starts and ended by kRunLogCutMark, so the line
// stays valid UTF-8, still reads back and says it was cut.
std::string FitRunLogEvent(const std::string& event, size_t limit);
constexpr char kRunLogCutMark[] = " [cut]";

// "0x10430006 ERR_IMAGE_MISMATCH", or "0x00000005 provider code": the outcome
// of one step, where any code not ours is the provider's.
std::string StatusForLog(TbtStatus status);

// An exit code with its name from the exit-code table (the window's and the
// command line's codes included), or "provider code".
std::string ExitCodeForLog(uint32_t code);
