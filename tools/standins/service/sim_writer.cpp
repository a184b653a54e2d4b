#include "tools/standins/service/sim_writer.h"

#include <cstdio>
#include <cwctype>
#include <memory>
#include <new>

#include "tools/standins/provider/sim_config.h"
#include "tools/standins/provider/sim_hold.h"

namespace {

constexpr wchar_t kDefaultPipe[] = L"\\\\.\\pipe\\TbtSimWriter";
constexpr wchar_t kAcpiControl[] = L"\\\\.\\QMXSIM";
// A caller waits this long for a write of another caller to end.
constexpr DWORD kBusyWaitMs = 60000;
// A request that stalls this long between two reads is dropped.
constexpr DWORD kRequestMs = 30000;
// How long the answer and the caller's hang-up are awaited.
constexpr DWORD kAnswerMs = 5000;

std::string ErrorText(const char* what, DWORD error) {
  char text[96];
  snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(error));
  return text;
}

// The caller's side is synchronous: it waits for the write, as a method call does.
bool SendAll(HANDLE pipe, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD done = 0;
    const DWORD chunk = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
    if (!WriteFile(pipe, p, chunk, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

bool ReceiveAll(HANDLE pipe, void* data, size_t size) {
  uint8_t* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    DWORD done = 0;
    if (!ReadFile(pipe, p, static_cast<DWORD>(size), &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

// The writer's side: every transfer can be given up (a timeout, or `stop`
// when not null), so no caller can hold the writer.
bool Transfer(HANDLE pipe, HANDLE event, bool send, void* data, DWORD size, HANDLE stop, DWORD timeoutMs) {
  uint8_t* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    OVERLAPPED io{};
    io.hEvent = event;
    ResetEvent(event);
    const DWORD chunk = size > (1u << 20) ? (1u << 20) : size;
    const BOOL started =
        send ? WriteFile(pipe, p, chunk, nullptr, &io) : ReadFile(pipe, p, chunk, nullptr, &io);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {event, stop};
    DWORD done = 0;
    if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, timeoutMs) != WAIT_OBJECT_0) {
      CancelIoEx(pipe, &io);
      GetOverlappedResult(pipe, &io, &done, TRUE);
      return false;
    }
    if (!GetOverlappedResult(pipe, &io, &done, FALSE) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

bool WaitForCaller(HANDLE pipe, HANDLE event, HANDLE stop) {
  OVERLAPPED io{};
  io.hEvent = event;
  ResetEvent(event);
  if (ConnectNamedPipe(pipe, &io)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error != ERROR_IO_PENDING) {
    Sleep(100);  // never spin on a pipe that keeps failing
    return false;
  }
  HANDLE waits[2] = {event, stop};
  DWORD done = 0;
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &io);
    GetOverlappedResult(pipe, &io, &done, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &io, &done, FALSE) != FALSE;
}

bool TellAcpi(HANDLE acpi, DWORD code, uint32_t bytes) {
  DWORD got = 0;
  return DeviceIoControl(acpi, code, &bytes, sizeof bytes, nullptr, 0, &got, nullptr) != FALSE;
}

// The write itself: announced to the ACPI stand-in first, so that by the time
// the record shows it begun, a device switched off is seen as during it.
uint32_t Write(const std::wstring& dir, const uint8_t* bytes, uint32_t size, uint32_t durationMs) {
  HANDLE acpi =
      CreateFileW(kAcpiControl, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string acpiNote = "told";
  if (acpi == INVALID_HANDLE_VALUE) {
    acpiNote = ErrorText("absent", GetLastError());  // a prefix without the driver
  } else if (!TellAcpi(acpi, kSimAcpiWriteBegin, size)) {
    acpiNote = ErrorText("refused", GetLastError());
  }
  char line[160];
  snprintf(line, sizeof line, "WRITE begin bytes=%lu duration_ms=%lu acpi=%s",
           static_cast<unsigned long>(size), static_cast<unsigned long>(durationMs), acpiNote.c_str());
  SimRecord(dir, line);
  SimHoldPoint(dir, "WRITE", "service", "bytes=" + std::to_string(size));

  Sleep(durationMs);
  DWORD error = 0;
  if (!SimWriteFile(dir + L"\\received.bin", bytes, size)) {
    error = GetLastError();
    if (error == 0) error = ERROR_WRITE_FAULT;
  }

  if (acpi != INVALID_HANDLE_VALUE) {
    TellAcpi(acpi, kSimAcpiWriteEnd, size);
    CloseHandle(acpi);
  }
  snprintf(line, sizeof line, "WRITE end bytes=%lu result=%lu", static_cast<unsigned long>(size),
           static_cast<unsigned long>(error));
  SimRecord(dir, line);
  return error;
}

// A drive-letter path such as C:\tbtsim, with no NUL inside.
bool IsFolderPath(const std::wstring& dir) {
  if (dir.size() < 3 || !std::iswalpha(dir[0]) || dir[1] != L':' || dir[2] != L'\\') return false;
  return dir.find(L'\0') == std::wstring::npos;
}

void ServeOne(HANDLE pipe, HANDLE event, HANDLE stop) {
  uint32_t header[4] = {};
  if (!Transfer(pipe, event, false, header, sizeof header, stop, kRequestMs)) return;
  const uint32_t dirChars = header[1], size = header[2], durationMs = header[3];
  uint32_t answer = kSimReturnBadParameter;
  std::wstring dir;
  std::unique_ptr<uint8_t[]> image;
  if (header[0] == kSimWriterMagic && dirChars > 0 && dirChars < kSimWriterMaxDirChars && size > 0 &&
      size <= kSimWriterMaxBytes && durationMs <= kSimWriterMaxMs) {
    dir.assign(dirChars, L'\0');
    if (!Transfer(pipe, event, false, dir.data(), dirChars * sizeof(wchar_t), stop, kRequestMs)) return;
    image.reset(new (std::nothrow) uint8_t[size]);
    if (!image) answer = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (image && IsFolderPath(dir)) {
    if (!Transfer(pipe, event, false, image.get(), size, stop, kRequestMs)) return;
    // From here on the write runs to its end: neither the caller hanging up
    // nor a stop request cuts it short.
    answer = Write(dir, image.get(), size, durationMs);
  }
  // The caller may be gone by now; then nobody hears the answer.
  if (!Transfer(pipe, event, true, &answer, sizeof answer, nullptr, kAnswerMs)) return;
  // Disconnecting drops what the caller has not read yet: wait for its hang-up.
  uint8_t none = 0;
  Transfer(pipe, event, false, &none, 1, nullptr, kAnswerMs);
}

}  // namespace

std::wstring SimWriterPipeName() {
  wchar_t name[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"TBTSIM_WRITER_PIPE", name, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? std::wstring(name, n) : std::wstring(kDefaultPipe);
}

bool SimWriterHand(const std::wstring& dir, uint32_t durationMs, const uint8_t* bytes, uint32_t size,
                   uint32_t& result, std::string& why) {
  if (dir.empty() || dir.size() >= kSimWriterMaxDirChars || !bytes || size == 0 ||
      size > kSimWriterMaxBytes || durationMs > kSimWriterMaxMs) {
    why = "request out of bounds";
    return false;
  }
  const std::wstring name = SimWriterPipeName();
  const ULONGLONG deadline = GetTickCount64() + kBusyWaitMs;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    // Identification only: the writer may learn who calls, never act as the caller.
    pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (error != ERROR_PIPE_BUSY) {
      why = ErrorText("the service's writer cannot be reached", error);
      return false;
    }
    if (now >= deadline) {
      why = ErrorText("the service's writer stayed busy", error);
      return false;
    }
    // Another write runs: one at a time.
    if (!WaitNamedPipeW(name.c_str(), static_cast<DWORD>(deadline - now))) Sleep(50);
  }
  const uint32_t header[4] = {kSimWriterMagic, static_cast<uint32_t>(dir.size()), size, durationMs};
  uint32_t answer = 0;
  bool answered = false;
  if (!SendAll(pipe, header, sizeof header) || !SendAll(pipe, dir.data(), dir.size() * sizeof(wchar_t)) ||
      !SendAll(pipe, bytes, size)) {
    why = ErrorText("the image could not be handed over", GetLastError());
  } else if (!ReceiveAll(pipe, &answer, sizeof answer)) {
    why = ErrorText("the service's writer broke off without an answer", GetLastError());
  } else {
    answered = true;
    result = answer;
  }
  CloseHandle(pipe);
  return answered;
}

HANDLE SimWriterOpen(const std::wstring& pipeName) {
  // One instance: one write at a time; other callers wait for it.
  return CreateNamedPipeW(pipeName.c_str(),
                          PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                          4096, 64 * 1024, 0, nullptr);
}

void SimWriterServe(HANDLE pipe, HANDLE stop) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) return;
  while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
    if (WaitForCaller(pipe, event, stop)) ServeOne(pipe, event, stop);
    DisconnectNamedPipe(pipe);
  }
  CloseHandle(event);
}
