// The stand-in ThunderboltService's firmware writer, and the simulated
// provider's way to hand it an image. As on Windows, the write runs in the
// service's process, not in the caller's: a caller that is killed mid-call
// leaves the write running to its end.
//
// Each request, over a byte-mode pipe (little-endian u32s):
//   magic, folder length in UTF-16 units, image bytes, write duration in ms,
//   the folder (UTF-16, no terminator), the image;
// answered with one u32 when the write has ended (0: written, else an error).
// The write records "WRITE begin" and "WRITE end" in <folder>\provider.log,
// writes the image to <folder>\received.bin at its end, and tells the ACPI
// stand-in (\\.\QMXSIM, when the driver is there) when it begins and ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr uint32_t kSimWriterMagic = 0x31575354;  // "TSW1"
constexpr uint32_t kSimWriterMaxDirChars = MAX_PATH;
constexpr uint32_t kSimWriterMaxBytes = 64 * 1024 * 1024;
constexpr uint32_t kSimWriterMaxMs = 10 * 60 * 1000;

// The ACPI stand-in's private requests: a write begins / ends ({u32 bytes}).
constexpr DWORD kSimAcpiWriteBegin = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kSimAcpiWriteEnd = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS);

// The pipe the service serves; %TBTSIM_WRITER_PIPE% names another, so a test
// can run a writer of its own.
std::wstring SimWriterPipeName();

// Hands one image to the writer and waits until the write has ended. True
// when the writer answered (`result`: its answer); false when it could not be
// reached or broke off before answering (`why` says so).
bool SimWriterHand(const std::wstring& dir, uint32_t durationMs, const uint8_t* bytes, uint32_t size,
                   uint32_t& result, std::string& why);

// The writer's pipe; INVALID_HANDLE_VALUE (GetLastError) when the name is taken.
HANDLE SimWriterOpen(const std::wstring& pipeName);

// Serves one request at a time on `pipe` until `stop` is set. A write that
// has begun always runs to its end, whatever happens to its caller or `stop`.
void SimWriterServe(HANDLE pipe, HANDLE stop);
