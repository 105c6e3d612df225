// Every test program reports an unhandled exception and ends with its code:
// under Wine a crashed program can otherwise exit with 0.
#include <windows.h>
#include <stdio.h>

namespace {

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  printf("\n[  CRASHED  ] exception 0x%08lx at %p\n", static_cast<unsigned long>(record->ExceptionCode),
         record->ExceptionAddress);
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

const bool installed = (SetUnhandledExceptionFilter(ReportCrash), true);

}  // namespace
