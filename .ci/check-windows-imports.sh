#!/usr/bin/env bash
# Checks that Windows programs load on Windows XP:
#
#   check-windows-imports.sh PROGRAM.exe...
#
# Lists every import of each program (objdump -p) and fails on an import
# from any DLL but KERNEL32.dll and msvcrt.dll, on an import by ordinal (no
# name to check), and on a KERNEL32 function that XP lacks: a program
# importing one does not start there at all.
set -euo pipefail

if (($# == 0)); then
  echo "usage: $0 PROGRAM.exe..." >&2
  exit 2
fi

# KERNEL32 functions that came with Vista or later, as anchored patterns.
# The list covers what compilers' runtimes (winpthreads, newer C++ libraries)
# pull in, so it names families rather than single functions.
vista_and_later=(
  'GetTickCount64'
  '(Acquire|Release|TryAcquire|Initialize)SRWLock.*'
  '(Initialize|Sleep|Wake|WakeAll)ConditionVariable.*'
  'InitOnce.*'
  'Fls(Alloc|Free|GetValue|SetValue)'
  'GetFileInformationByHandleEx'
  'SetFileInformationByHandle'
  'GetFinalPathNameByHandle[AW]'
  'CreateSymbolicLink.*'
  'CancelIoEx'
  'CancelSynchronousIo'
  '.*LocaleName.*'
  '(GetLocaleInfo|CompareString|LCMapString|GetNumberFormat|GetCurrencyFormat|GetDateFormat|GetTimeFormat|GetCalendarInfo|EnumSystemLocales|GetUserDefaultGeoName)Ex'
  'CreateEventEx[AW]'
  'Create(Mutex|Semaphore|WaitableTimer)Ex[AW]'
  'InitializeCriticalSectionEx'
  'GetCurrentProcessorNumber(Ex)?'
  'FlushProcessWriteBuffers'
  'GetErrorMode'
  '(Get|Set)ThreadErrorMode'
  'QueryFullProcessImageName[AW]'
  'GetQueuedCompletionStatusEx'
  'SetFileCompletionNotificationModes'
  'GetSystemTimePreciseAsFileTime'
  'RaiseFailFastException'
  'InterlockedCompareExchange64'
  'GetThreadId'
  'GetProcessIdOfThread'
  '.*Threadpool.*'
  'TrySubmitThreadpoolCallback'
  'MoveFileTransacted[AW]'
  'CopyFile2'
  'CreateFile2'
  '(Get|Set)DynamicTimeZoneInformation'
  'GetTimeZoneInformationForYear'
  'GetVolumeInformationByHandleW'
  'GetFileMUIPath|GetUILanguageInfo|SetThreadPreferredUILanguages|GetThreadPreferredUILanguages|GetUserPreferredUILanguages|GetSystemPreferredUILanguages|GetProcessPreferredUILanguages|SetProcessPreferredUILanguages'
  'Wow64(Disable|Revert|Enable)Wow64FsRedirection|Wow64EnableWow64FsRedirection'
  'GetNamedPipe(Client|Server)(ProcessId|SessionId)'
  'SetThreadStackGuarantee'
)
pattern="^($(IFS='|'; echo "${vista_and_later[*]}"))\$"

failures=0
for program in "$@"; do
  listing=$(objdump -p "$program") || { echo "FAILED: cannot read $program" >&2; exit 1; }
  # "DLL Name: X" opens each DLL's block; its imports follow as
  # "<tab>vma<tab> hint name" (or an ordinal without a name).
  imports=$(awk '
    /^\tDLL Name: / { dll = $3; next }
    dll != "" && /^\t[0-9a-f]+\t/ {
      n = split($0, field, /[ \t]+/)
      if (n >= 4) print dll, field[4]; else print dll, "<ordinal>"
    }
  ' <<<"$listing")
  count=$(grep -c . <<<"$imports" || true)
  if ((count == 0)); then
    echo "FAILED: $program lists no imports (objdump's format changed?)" >&2
    failures=$((failures + 1))
    continue
  fi
  while read -r dll function; do
    case "${dll,,}" in
      kernel32.dll)
        if [[ "$function" == "<ordinal>" ]]; then
          echo "FAILED: $program imports a KERNEL32 function by ordinal" >&2
          failures=$((failures + 1))
        elif [[ "$function" =~ $pattern ]]; then
          echo "FAILED: $program imports $function from KERNEL32.dll, which Windows XP lacks" >&2
          failures=$((failures + 1))
        fi
        ;;
      msvcrt.dll) ;;
      *)
        echo "FAILED: $program imports $function from $dll (only KERNEL32.dll and msvcrt.dll may be)" >&2
        failures=$((failures + 1))
        ;;
    esac
  done <<<"$imports"
  dlls=$(awk '{print $1}' <<<"$imports" | sort -u | tr '\n' ' ')
  echo "$program: $count imports from ${dlls% }"
done
if ((failures > 0)); then
  echo "check-windows-imports.sh: ${failures} import(s) would stop the programs on Windows XP" >&2
  exit 1
fi
