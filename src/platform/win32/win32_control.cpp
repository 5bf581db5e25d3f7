// The console control handlers: the one for the whole run, which removes an
// armed temporary file and ends the process, and the key wait's, which takes
// Ctrl+C as a key. Both run on a thread of their own.
#include "platform/win32/win32_internal.h"

namespace platform {
namespace win32 {

namespace {

// The temporary file that the console control handler removes, and whether
// there is one. Read by the handler, which runs on a thread of its own.
char g_temporary_path[kArmedPathCapacity];
volatile LONG g_temporary_armed = 0;

// How a console program ends when Ctrl+C, Ctrl+Break or the closing of its
// console stops it and it has no handler of its own: Windows' default
// handler gives this status, so an interrupted run looks like any other
// interrupted program to the caller. Wine's default handler ends with 0.
constexpr UINT kInterruptedStatus = 0xC000013AU;  // STATUS_CONTROL_C_EXIT

// Installed for the whole run; during a key wait the wait's own handler
// comes first and takes Ctrl+C as a key. Ends the process at once, from the
// handler's thread: nothing of the run goes on after an interruption.
BOOL WINAPI EndOnControl(DWORD /*event*/) {
  if (InterlockedExchange(&g_temporary_armed, 0) != 0) DeleteFileA(g_temporary_path);
  TerminateProcess(GetCurrentProcess(), kInterruptedStatus);
  return TRUE;
}

// The console input that a Ctrl+C is turned into a key for while a wait
// runs. Read by the control handler, which runs on a thread of its own.
HANDLE g_ctrl_c_input = INVALID_HANDLE_VALUE;

// With the console mode at 0 a Windows console delivers Ctrl+C as the key 3
// and raises no event, so this never runs there. Wine raises CTRL_C_EVENT
// all the same and queues no key; the event then becomes that key, and the
// wait reads it like any other.
BOOL WINAPI CtrlCAsKey(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = 'C';
  record.Event.KeyEvent.uChar.AsciiChar = 3;
  record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
  DWORD written = 0;
  WriteConsoleInputA(g_ctrl_c_input, &record, 1, &written);
  return TRUE;  // handled: the program goes on
}

}  // namespace

void ArmRemoval(const char* path) {
  lstrcpynA(g_temporary_path, path, sizeof g_temporary_path);
  InterlockedExchange(&g_temporary_armed, 1);
}

void DisarmRemoval() { InterlockedExchange(&g_temporary_armed, 0); }

CtrlCAsKeyDuringWait::CtrlCAsKeyDuringWait(HANDLE input) {
  g_ctrl_c_input = input;
  installed_ = SetConsoleCtrlHandler(CtrlCAsKey, TRUE) != FALSE;
}

CtrlCAsKeyDuringWait::~CtrlCAsKeyDuringWait() {
  if (installed_) SetConsoleCtrlHandler(CtrlCAsKey, FALSE);
}

}  // namespace win32

// Win32 has no file-size signal; a console event ends the run on its own
// terms.
void PrepareProcess() { SetConsoleCtrlHandler(win32::EndOnControl, TRUE); }

}  // namespace platform
