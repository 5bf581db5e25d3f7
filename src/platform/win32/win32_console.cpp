// The console: text out to standard output, shown as characters on a
// console, and one key press at a time from the console itself, never from
// standard input.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <vector>

#include "platform/key_decoding.h"
#include "platform/win32/win32_internal.h"

namespace platform {

// Room for the longest message in one piece; each message is flushed at its
// end, so nothing waits in the buffer while a key wait runs.
constexpr std::size_t kOutputBufferSize = 16384;

void PrepareConsoleOutput() {
  // The C runtime opens stdout in text mode, which would write every "\n"
  // as CR LF into a file or pipe. A console starts a new line on a bare LF
  // anyway, so binary mode changes nothing on screen. Unbuffered, the
  // runtime would hand a message over in pieces that can split a
  // double-byte character.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
}

namespace {

// Standard output when it is a console, else INVALID_HANDLE_VALUE (a file,
// a pipe). Asked once: a run never moves its output.
HANDLE ConsoleOutput() {
  static const HANDLE console = [] {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const bool is_console =
        output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode);
    return is_console ? output : INVALID_HANDLE_VALUE;
  }();
  return console;
}

// Shows ANSI code-page bytes on a console as characters. The console's own
// code page (the OEM one) would show other glyphs for the same bytes, so
// the text goes as UTF-16 and the console's code page stays as it is.
// False when nothing could be written.
bool WriteAsCharacters(HANDLE console, const char* text, std::size_t size) {
  const int bytes = static_cast<int>(size);
  const int count = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
  if (count <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(count));
  if (MultiByteToWideChar(CP_ACP, 0, text, bytes, wide.data(), count) != count) return false;
  // Old consoles take at most some 64 KiB per call; write in slices.
  constexpr DWORD kSlice = 8192;
  DWORD done = 0;
  while (done < static_cast<DWORD>(count)) {
    const DWORD left = static_cast<DWORD>(count) - done;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, left < kSlice ? left : kSlice, &written,
                       nullptr) ||
        written == 0) {
      return done > 0;  // what is on the screen stays; never write it twice
    }
    done += written;
  }
  return true;
}

}  // namespace

void WriteConsoleText(const char* text, std::size_t size) {
  if (size == 0) return;
  const HANDLE console = ConsoleOutput();
  if (console != INVALID_HANDLE_VALUE && WriteAsCharacters(console, text, size)) return;
  // Redirected: the exact bytes, in one write when they fit the buffer.
  std::fwrite(text, 1, size, stdout);
  std::fflush(stdout);
}

namespace {

bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

}  // namespace

NarrowCodePage PathCodePage() {
  // Paths are in the ANSI code page; it does not change while a run lasts.
  static const NarrowCodePage page = [] {
    NarrowCodePage described{GetACP(), 0, SystemLeadByte};
    CPINFO info;
    if (GetCPInfo(CP_ACP, &info)) described.max_char_size = info.MaxCharSize;
    return described;
  }();
  return page;
}

namespace {

struct ConsoleInput {
  HANDLE handle;
  bool usable;
};

// The console itself, opened once; standard input may be redirected.
ConsoleInput& Console() {
  static ConsoleInput console = [] {
    ConsoleInput opened{CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr),
                        false};
    DWORD mode = 0;
    opened.usable = opened.handle != INVALID_HANDLE_VALUE && GetConsoleMode(opened.handle, &mode);
    return opened;
  }();
  return console;
}

// Puts the console mode back however ReadKey leaves.
class ModeRestorer {
 public:
  ModeRestorer(HANDLE handle, DWORD mode) : handle_(handle), mode_(mode) {}
  ~ModeRestorer() { SetConsoleMode(handle_, mode_); }
  ModeRestorer(const ModeRestorer&) = delete;
  ModeRestorer& operator=(const ModeRestorer&) = delete;

 private:
  HANDLE handle_;
  DWORD mode_;
};

// The mapping in key_decoding.cpp names the Win32 values itself, so that
// it builds everywhere; they must be the ones this header gives.
static_assert(win32_key::kEnhancedKey == ENHANCED_KEY && win32_key::kShift == VK_SHIFT &&
              win32_key::kControl == VK_CONTROL && win32_key::kMenu == VK_MENU &&
              win32_key::kPause == VK_PAUSE && win32_key::kCapital == VK_CAPITAL &&
              win32_key::kEscape == VK_ESCAPE && win32_key::kPrior == VK_PRIOR &&
              win32_key::kNext == VK_NEXT && win32_key::kEnd == VK_END &&
              win32_key::kHome == VK_HOME && win32_key::kLeft == VK_LEFT &&
              win32_key::kUp == VK_UP && win32_key::kRight == VK_RIGHT &&
              win32_key::kDown == VK_DOWN && win32_key::kInsert == VK_INSERT &&
              win32_key::kDelete == VK_DELETE && win32_key::kLeftWindows == VK_LWIN &&
              win32_key::kRightWindows == VK_RWIN && win32_key::kApps == VK_APPS &&
              win32_key::kF1 == VK_F1 && win32_key::kF10 == VK_F10 &&
              win32_key::kF11 == VK_F11 && win32_key::kF12 == VK_F12 &&
              win32_key::kF13 == VK_F13 && win32_key::kF24 == VK_F24 &&
              win32_key::kNumLock == VK_NUMLOCK && win32_key::kScroll == VK_SCROLL &&
              win32_key::kLeftShift == VK_LSHIFT && win32_key::kRightShift == VK_RSHIFT &&
              win32_key::kLeftControl == VK_LCONTROL &&
              win32_key::kRightControl == VK_RCONTROL && win32_key::kLeftMenu == VK_LMENU &&
              win32_key::kRightMenu == VK_RMENU && win32_key::kBrowserBack == VK_BROWSER_BACK &&
              win32_key::kLaunchApp2 == VK_LAUNCH_APP2 &&
              win32_key::kProcessKey == VK_PROCESSKEY && win32_key::kPacket == VK_PACKET,
              "the key mapping's Win32 values");

KeyEventFields FieldsOf(const KEY_EVENT_RECORD& key) {
  return {key.bKeyDown != FALSE, key.wVirtualKeyCode,
          static_cast<unsigned char>(key.uChar.AsciiChar), key.dwControlKeyState};
}

}  // namespace

int ReadKey() {
  ConsoleInput& console = Console();
  if (!console.usable) return -1;

  DWORD saved_mode = 0;
  if (!GetConsoleMode(console.handle, &saved_mode)) {
    console.usable = false;
    return -1;
  }
  // Raw mode: no line editing, no echo, and Ctrl+C arrives as a key (3).
  if (!SetConsoleMode(console.handle, 0)) {
    SetConsoleMode(console.handle, saved_mode);
    console.usable = false;
    return -1;
  }
  const ModeRestorer restorer(console.handle, saved_mode);
  const win32::CtrlCAsKeyDuringWait ctrl_c(console.handle);

  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputA(console.handle, &record, 1, &count)) {
      console.usable = false;
      return -1;
    }
    if (count == 0 || record.EventType != KEY_EVENT) continue;
    const DecodedKey key = DecodeKeyEvent(FieldsOf(record.Event.KeyEvent));
    if (key.status == KeyStatus::kKey) return key.code;
  }
}

// The console reads the ANSI code page (WriteConsoleText), never UTF-8.
bool ConsoleShowsUtf8() { return false; }

}  // namespace platform
