/* Stand-in for the notebook maker's ACPI control driver: creates \Device\QMXACPI
 * with the \DosDevices\QMXACPI link and answers the control request
 * 0x0022240C, {u32 method, u32 n, n payload bytes}. DEVS with the payload
 * {u32 device id, u32 state} is answered with 4 bytes (0: done).
 *
 * Every open, close and request is appended as one text line to
 * C:\tbtsim\acpi.log, so a test can read which devices were switched, in order:
 *   t=<unix s.ms> seq=<n> DEVS dev=0x00060057 state=1 in=16 out=1024 reply=4 status=0x00000000
 *
 * A second device, \Device\QMXSIM (\DosDevices\QMXSIM), belongs to the
 * simulation: the stand-in service tells it when a firmware write begins and
 * ends ({u32 bytes}), recorded as "WRITE begin bytes=N" / "WRITE end bytes=N";
 * its opens and closes are not recorded. Switching the controller off while a
 * write runs bricks a real one: besides its DEVS line, such a request is
 * recorded as "FAULT DEVS dev=0x00060057 state=0 during a write", and a writer
 * whose handle closes before its write ended as "FAULT WRITE abandoned". The
 * controller takes the written image for a while after the write has ended
 * (QMX_SETTLE_MS, within the product's 10 s settle wait): switched off then,
 * "FAULT DEVS dev=0x00060057 state=0 before the written image settled".
 *
 * A test can hold a request of the product's (steps OPEN, DEVS, CLOSE) before
 * it is served, through the stand-ins' file handshake (sim_hold.h) in
 * C:\tbtsim: hold.txt "STEP K" arms it, hold.log records it held and
 * released, and a hold.txt that no longer says "STEP 0" releases it. The
 * request's thread waits; under Wine, so do the driver's other requests.
 */
#include <ddk/wdm.h>

#define QMX_IOCTL_CALL 0x0022240C
#define QMX_METHOD_DEVS 0x53564544u
#define QMX_DEVICE_TBT 0x00060057u
#define QMX_DEVICE_OFF 0u
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901 / 0x902, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define QMX_SIM_WRITE_BEGIN 0x00222404
#define QMX_SIM_WRITE_END 0x00222408

/* Not declared by the kernel headers at hand; exported by ntoskrnl. */
NTSTATUS NTAPI ZwQuerySystemInformation(ULONG InformationClass, PVOID Information, ULONG Length,
                                        PULONG ReturnLength);
#define QMX_SYSTEM_TIME_OF_DAY_INFORMATION 3

static LONG g_sequence;
static PDEVICE_OBJECT g_device;
static PDEVICE_OBJECT g_control;
/* The control handle (file object) whose write runs; NULL when none does. */
static PVOID volatile g_writer;
/* When the last write ended (100 ns since 1601; 0: none yet). */
#define QMX_SETTLE_MS 5000
static volatile LONGLONG g_writeEnded;

/* A fixed-size text line built without a C runtime. */
typedef struct {
  char text[256];
  ULONG length;
} QMX_LINE;

static void LineText(QMX_LINE* line, const char* text) {
  while (*text && line->length < sizeof(line->text) - 1) line->text[line->length++] = *text++;
}

static void LineDecimal(QMX_LINE* line, ULONGLONG value, int minDigits) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value && n < (int)sizeof(digits));
  while (n < minDigits && n < (int)sizeof(digits)) digits[n++] = '0';
  while (n > 0 && line->length < sizeof(line->text) - 1) line->text[line->length++] = digits[--n];
}

static void LineHex(QMX_LINE* line, ULONG value) {
  static const char hex[] = "0123456789ABCDEF";
  int shift;
  LineText(line, "0x");
  for (shift = 28; shift >= 0 && line->length < sizeof(line->text) - 1; shift -= 4) {
    line->text[line->length++] = hex[(value >> shift) & 0xF];
  }
}

/* The time of day, 100 ns since 1601 (0 when unknown). */
static ULONGLONG Now(void) {
  ULONGLONG info[6] = {0};
  /* CurrentTime follows BootTime. */
  if (!NT_SUCCESS(ZwQuerySystemInformation(QMX_SYSTEM_TIME_OF_DAY_INFORMATION, info, sizeof(info), NULL)))
    return 0;
  return info[1];
}

/* "t=<unix s.ms> " */
static void LineStamp(QMX_LINE* line) {
  ULONGLONG now = Now();
  ULONGLONG ms = 0;
  line->length = 0;
  if (now > 116444736000000000ull) ms = (now - 116444736000000000ull) / 10000;
  LineText(line, "t=");
  LineDecimal(line, ms / 1000, 1);
  LineText(line, ".");
  LineDecimal(line, ms % 1000, 3);
  LineText(line, " ");
}

/* "t=<unix s.ms> seq=<n> " */
static void LineStart(QMX_LINE* line) {
  LineStamp(line);
  LineText(line, "seq=");
  LineDecimal(line, (ULONGLONG)InterlockedIncrement(&g_sequence), 1);
  LineText(line, " ");
}

static BOOLEAN OpenFile(HANDLE* file, PCWSTR name, ACCESS_MASK access, ULONG disposition) {
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  RtlInitUnicodeString(&path, name);
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  return NT_SUCCESS(ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                                 FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0));
}

static void RecordIn(PCWSTR name, QMX_LINE* line) {
  IO_STATUS_BLOCK io;
  HANDLE file;
  LineText(line, "\r\n");
  if (!OpenFile(&file, name, FILE_APPEND_DATA, FILE_OPEN_IF)) return;
  ZwWriteFile(file, NULL, NULL, NULL, &io, line->text, line->length, NULL, NULL);
  ZwClose(file);
}

static void Record(QMX_LINE* line) {
  RecordIn(L"\\??\\C:\\tbtsim\\acpi.log", line);
}

/* --- the hold (the stand-ins' handshake, sim_hold.h) --- */

#define QMX_HOLD_ARM L"\\??\\C:\\tbtsim\\hold.txt"
#define QMX_HOLD_LOG L"\\??\\C:\\tbtsim\\hold.log"
#define QMX_HOLD_POLL_MS 50
#define QMX_HOLD_LONGEST_POLLS (10 * 60 * 1000 / QMX_HOLD_POLL_MS)

/* The count hold.txt gives `step`; FALSE when it is absent or arms another step. */
static BOOLEAN HoldReadArm(const char* step, ULONG* count) {
  char text[64];
  IO_STATUS_BLOCK io;
  HANDLE file;
  ULONG got, i, digits = 0;
  if (!OpenFile(&file, QMX_HOLD_ARM, GENERIC_READ, FILE_OPEN)) return FALSE;
  got = NT_SUCCESS(ZwReadFile(file, NULL, NULL, NULL, &io, text, sizeof(text) - 1, NULL, NULL))
            ? (ULONG)io.Information
            : 0;
  ZwClose(file);
  for (i = 0; step[i]; ++i) {
    if (i >= got || text[i] != step[i]) return FALSE;
  }
  if (i >= got || text[i] != ' ') return FALSE;
  *count = 0;
  for (++i; i < got && text[i] >= '0' && text[i] <= '9' && *count < 100000; ++i, ++digits) {
    *count = *count * 10 + (ULONG)(text[i] - '0');
  }
  return digits > 0;
}

/* Counts this request of `step` down in hold.txt; TRUE when it is the one to hold. */
static BOOLEAN HoldTakeTurn(const char* step) {
  IO_STATUS_BLOCK io;
  HANDLE file;
  ULONG count = 0;
  QMX_LINE arm;
  if (!HoldReadArm(step, &count) || count == 0) return FALSE;
  arm.length = 0;
  LineText(&arm, step);
  LineText(&arm, " ");
  LineDecimal(&arm, count - 1, 1);
  if (OpenFile(&file, QMX_HOLD_ARM, GENERIC_WRITE, FILE_OVERWRITE_IF)) {
    ZwWriteFile(file, NULL, NULL, NULL, &io, arm.text, arm.length, NULL, NULL);
    ZwClose(file);
  }
  return count == 1;
}

/* Holds the request's thread while hold.txt arms this request of `step`. */
static void HoldPoint(const char* step, const char* what, ULONG state) {
  QMX_LINE line;
  LARGE_INTEGER poll;
  ULONG polls, count = 0;
  if (!HoldTakeTurn(step)) return;
  LineStamp(&line);
  LineText(&line, "HELD ");
  LineText(&line, step);
  LineText(&line, " by=acpi");
  if (what) {
    LineText(&line, " ");
    LineText(&line, what);
    LineDecimal(&line, state, 1);
  }
  RecordIn(QMX_HOLD_LOG, &line);
  poll.QuadPart = -10000LL * QMX_HOLD_POLL_MS;
  /* Held while hold.txt still says "STEP 0". */
  for (polls = 0; polls < QMX_HOLD_LONGEST_POLLS && HoldReadArm(step, &count) && count == 0; ++polls) {
    KeDelayExecutionThread(KernelMode, FALSE, &poll);
  }
  LineStamp(&line);
  LineText(&line, "RELEASED ");
  LineText(&line, step);
  LineText(&line, " by=acpi");
  RecordIn(QMX_HOLD_LOG, &line);
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  QMX_LINE line;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (device == g_control) {
    if (stack->MajorFunction == IRP_MJ_CLOSE && stack->FileObject &&
        InterlockedCompareExchangePointer(&g_writer, NULL, stack->FileObject) == stack->FileObject) {
      LineStart(&line);
      LineText(&line, "FAULT WRITE abandoned: the writer went away before its write ended");
      Record(&line);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  HoldPoint(stack->MajorFunction == IRP_MJ_CREATE ? "OPEN" : "CLOSE", NULL, 0);
  LineStart(&line);
  LineText(&line, stack->MajorFunction == IRP_MJ_CREATE ? "OPEN" : "CLOSE");
  Record(&line);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static ULONG ReadU32(const UCHAR* bytes) {
  return (ULONG)bytes[0] | ((ULONG)bytes[1] << 8) | ((ULONG)bytes[2] << 16) | ((ULONG)bytes[3] << 24);
}

/* The simulation's requests: a write begins or ends, for one writer at a time. */
static NTSTATUS ControlWrite(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const UCHAR* buffer = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
  PVOID writer = stack->FileObject;
  QMX_LINE line;
  if ((code != QMX_SIM_WRITE_BEGIN && code != QMX_SIM_WRITE_END) || !writer) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  if (stack->Parameters.DeviceIoControl.InputBufferLength < 4 || !buffer) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  if (code == QMX_SIM_WRITE_BEGIN) {
    if (InterlockedCompareExchangePointer(&g_writer, writer, NULL) != NULL)
      return Complete(irp, STATUS_DEVICE_BUSY, 0);
  } else if (InterlockedCompareExchangePointer(&g_writer, NULL, writer) != writer) {
    return Complete(irp, STATUS_INVALID_DEVICE_STATE, 0);
  } else {
    g_writeEnded = (LONGLONG)Now();
  }
  LineStart(&line);
  LineText(&line, code == QMX_SIM_WRITE_BEGIN ? "WRITE begin bytes=" : "WRITE end bytes=");
  LineDecimal(&line, ReadU32(buffer), 1);
  Record(&line);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR replied = 0;
  ULONG method = 0, payload = 0;
  BOOLEAN offDuringWrite = FALSE, offBeforeSettled = FALSE;
  QMX_LINE line;

  if (device == g_control) return ControlWrite(irp);
  if (code == QMX_IOCTL_CALL && inLength >= 16 && buffer && ReadU32(buffer) == QMX_METHOD_DEVS) {
    HoldPoint("DEVS", "state=", ReadU32(buffer + 12));
  }
  LineStart(&line);
  if (code != QMX_IOCTL_CALL) {
    LineText(&line, "IOCTL code=");
    LineHex(&line, code);
    status = STATUS_INVALID_DEVICE_REQUEST;
  } else if (inLength < 8 || !buffer) {
    LineText(&line, "SHORT");
    status = STATUS_INVALID_PARAMETER;
  } else {
    method = ReadU32(buffer);
    payload = ReadU32(buffer + 4);
    if (method == QMX_METHOD_DEVS) {
      LineText(&line, "DEVS");
    } else {
      LineText(&line, "METHOD ");
      LineHex(&line, method);
    }
    if (payload != inLength - 8) {
      /* The length field must describe exactly the bytes that follow it. */
      LineText(&line, " n=");
      LineDecimal(&line, payload, 1);
      status = STATUS_INVALID_PARAMETER;
    } else if (method != QMX_METHOD_DEVS) {
      status = STATUS_NOT_SUPPORTED;
    } else if (payload != 8) {
      LineText(&line, " n=");
      LineDecimal(&line, payload, 1);
      status = STATUS_INVALID_PARAMETER;
    } else {
      LineText(&line, " dev=");
      LineHex(&line, ReadU32(buffer + 8));
      LineText(&line, " state=");
      LineDecimal(&line, ReadU32(buffer + 12), 1);
      if (ReadU32(buffer + 8) == QMX_DEVICE_TBT && ReadU32(buffer + 12) == QMX_DEVICE_OFF) {
        offDuringWrite = g_writer != NULL;
        offBeforeSettled = !offDuringWrite && g_writeEnded != 0 &&
                           Now() < (ULONGLONG)g_writeEnded + QMX_SETTLE_MS * 10000ull;
      }
      if (outLength >= 4) {
        RtlZeroMemory(buffer, 4); /* the reply overwrites the request in a buffered exchange */
        replied = 4;
      }
    }
  }
  LineText(&line, " in=");
  LineDecimal(&line, inLength, 1);
  LineText(&line, " out=");
  LineDecimal(&line, outLength, 1);
  LineText(&line, " reply=");
  LineDecimal(&line, replied, 1);
  LineText(&line, " status=");
  LineHex(&line, (ULONG)status);
  Record(&line);
  if (offDuringWrite || offBeforeSettled) {
    LineStart(&line);
    LineText(&line, "FAULT DEVS dev=");
    LineHex(&line, QMX_DEVICE_TBT);
    LineText(&line, offDuringWrite ? " state=0 during a write" : " state=0 before the written image settled");
    Record(&line);
  }
  return Complete(irp, status, replied);
}

static void NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  (void)driver;
  RtlInitUnicodeString(&link, L"\\DosDevices\\QMXACPI");
  IoDeleteSymbolicLink(&link);
  if (g_device) IoDeleteDevice(g_device);
  g_device = NULL;
  RtlInitUnicodeString(&link, L"\\DosDevices\\QMXSIM");
  IoDeleteSymbolicLink(&link);
  if (g_control) IoDeleteDevice(g_control);
  g_control = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  NTSTATUS status;
  QMX_LINE line;
  (void)registryPath;

  RtlInitUnicodeString(&name, L"\\Device\\QMXACPI");
  RtlInitUnicodeString(&link, L"\\DosDevices\\QMXACPI");
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_device);
    g_device = NULL;
    return status;
  }
  /* Without the simulation's device the driver still serves the product. */
  RtlInitUnicodeString(&name, L"\\Device\\QMXSIM");
  RtlInitUnicodeString(&link, L"\\DosDevices\\QMXSIM");
  if (NT_SUCCESS(IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_control)) &&
      !NT_SUCCESS(IoCreateSymbolicLink(&link, &name))) {
    IoDeleteDevice(g_control);
    g_control = NULL;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;

  LineStart(&line);
  LineText(&line, "LOADED");
  Record(&line);
  return STATUS_SUCCESS;
}
