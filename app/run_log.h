// The support log of one run: events in words, for whoever has to find out
// afterwards what happened on a machine. The program installs a sink (a file)
// when asked for a log; without one every event costs nothing but the test.
#pragma once

#include <string>

#include "app/status.h"

// Receives one event, without time or line end; may be called from any thread.
using RunLogSink = void (*)(const std::string& event);

// Installs the sink (null: none). Set before the worker starts.
void SetRunLogSink(RunLogSink sink);
bool RunLogEnabled();

// One event, printf-style; cut at 1,000 bytes. Never the image's bytes.
void RunLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// "0x10430006 ERR_IMAGE_MISMATCH", or "0x00000005 provider code".
std::string StatusForLog(TbtStatus status);
