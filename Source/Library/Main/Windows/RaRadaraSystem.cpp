// System libraries loaded by name, and COM.
#include "RaRadaraSystem.h"

#include <objbase.h>
#include <string.h>

#include "DiDAridIrer.h"
#include "RaRadaraLog.h"

namespace {

// Log texts.
const char LOG_COM_STARTING[] = "ＣＯＭの初期化... ";
const char LOG_STEP_RESULT[] = "%s%s";  // a step and how it ended, on one line
const char LOG_COM_START_FAILED[] = "ＣＯＭの初期化に失敗しました";
const char LOG_COM_STARTED[] = "成功しました";
const char LOG_COM_ENDED[] = "ＣＯＭを終了... 完了";

}  // namespace

SystemLibraryTable SystemLibs;

namespace {

int ComInitialized = 0;

}  // namespace

#define ENTRY(name) \
  { #name, &SystemLibs.name##Func }

namespace {

const SystemEntryPoint Ws2Entries[] = {
    ENTRY(WSAGetLastError), ENTRY(WSAStartup),    ENTRY(WSACleanup),  ENTRY(WSAAsyncSelect), ENTRY(getaddrinfo),
    ENTRY(gethostbyaddr),   ENTRY(gethostbyname), ENTRY(gethostname), ENTRY(ntohs),          ENTRY(htons),
    ENTRY(connect),         ENTRY(socket),        ENTRY(send),        ENTRY(sendto),         ENTRY(recvfrom),
    ENTRY(accept),          ENTRY(closesocket),   ENTRY(shutdown),    ENTRY(listen),         ENTRY(bind),
    ENTRY(inet_addr),       ENTRY(recv),
};

const SystemEntryPoint ImmEntries[] = {
    ENTRY(ImmGetContext),
    ENTRY(ImmReleaseContext),
    ENTRY(ImmGetOpenStatus),
    ENTRY(ImmGetConversionStatus),
    ENTRY(ImmNotifyIME),
    ENTRY(ImmSetOpenStatus),
    ENTRY(ImmGetCandidateListA),
    ENTRY(ImmGetCandidateListCountA),
    ENTRY(ImmGetCompositionStringA),
    ENTRY(ImmSetCompositionStringA),
};

const SystemEntryPoint WinmmEntries[] = {
    ENTRY(timeSetEvent),   ENTRY(timeKillEvent), ENTRY(timeBeginPeriod), ENTRY(timeEndPeriod),   ENTRY(timeGetTime),
    ENTRY(timeGetDevCaps), ENTRY(joyGetPosEx),   ENTRY(joyGetDevCapsA),  ENTRY(mciSendCommandA),
};

const SystemEntryPoint OleEntries[] = {
    ENTRY(CoCreateInstance), ENTRY(CoTaskMemAlloc),        ENTRY(CoTaskMemFree),
    ENTRY(CoInitializeEx),   ENTRY(CoFreeUnusedLibraries), ENTRY(CoUninitialize),
};

const SystemEntryPoint ComctlEntries[] = {ENTRY(InitCommonControls)};
const SystemEntryPoint DwmEntries[] = {ENTRY(DwmEnableComposition)};
const SystemEntryPoint User32Entries[] = {ENTRY(WINNLSEnableIME)};

}  // namespace

#undef ENTRY

struct SystemLibraryRecord {
  const char* name;
  HMODULE* module;
  const SystemEntryPoint* entries;
  int count;
};

#define LIBRARY(name, module, entries) \
  { name, &SystemLibs.module, entries, static_cast<int>(sizeof(entries) / sizeof(entries[0])) }

namespace {

// Load order.
const SystemLibraryRecord SystemLibraryRecords[] = {
    LIBRARY("ws2_32.dll", ws2_32, Ws2Entries),        LIBRARY("Imm32.dll", imm32, ImmEntries),
    LIBRARY("winmm.dll", winmm, WinmmEntries),        LIBRARY("ole32.dll", ole32, OleEntries),
    LIBRARY("comctl32.dll", comctl32, ComctlEntries), LIBRARY("dwmapi.dll", dwmapi, DwmEntries),
    LIBRARY("User32.dll", user32, User32Entries),
};

}  // namespace

#undef LIBRARY

namespace {

// Free order, as indices into SystemLibraryRecords: dwmapi, User32, ws2_32,
// Imm32, winmm, ole32, comctl32.
const int SystemLibraryFreeOrder[] = {5, 6, 0, 1, 2, 3, 4};

void ClearEntries(const SystemEntryPoint* entries, int count) {
  for (int i = 0; i < count; i++) {
    void* none = nullptr;
    memcpy(entries[i].variable, &none, sizeof(none));
  }
}

}  // namespace

int LoadSystemLibrary(const char* name, HMODULE* module, const SystemEntryPoint* entries, int count) {
  if (*module != nullptr) return 0;
  HMODULE loaded = LoadLibraryA(name);
  if (loaded == nullptr) {
    ClearEntries(entries, count);
    return -1;
  }
  *module = loaded;
  for (int i = 0; i < count; i++) {
    FARPROC address = GetProcAddress(loaded, entries[i].name);
    // The variables have their own function types; copy the address bytes.
    memcpy(entries[i].variable, &address, sizeof(address));
  }
  return 0;
}

int FreeSystemLibrary(HMODULE* module, const SystemEntryPoint* entries, int count) {
  if (*module == nullptr) return 0;
  ClearEntries(entries, count);
  FreeLibrary(*module);
  *module = nullptr;
  return 0;
}

int LoadSystemLibraries() {
  for (const SystemLibraryRecord& record : SystemLibraryRecords)
    LoadSystemLibrary(record.name, record.module, record.entries, record.count);
  return 0;
}

int FreeSystemLibraries() {
  for (int index : SystemLibraryFreeOrder) {
    const SystemLibraryRecord& record = SystemLibraryRecords[index];
    FreeSystemLibrary(record.module, record.entries, record.count);
  }
  return 0;
}

int InitializeCom() {
  if (ComInitialized) return -1;
  HRESULT result = E_FAIL;
  if (SystemLibs.CoInitializeExFunc != nullptr)
    result = SystemLibs.CoInitializeExFunc(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(result)) {
    LogPrintf(LOG_STEP_RESULT, LOG_COM_STARTING, LOG_COM_START_FAILED);
    return -1;
  }
  LogPrintf(LOG_STEP_RESULT, LOG_COM_STARTING, LOG_COM_STARTED);
  ComInitialized = 1;
  return 0;
}

int TerminateCom() {
  if (!ComInitialized) return -1;
  if (SystemLibs.CoUninitializeFunc != nullptr) SystemLibs.CoUninitializeFunc();
  LogPrintf(LOG_COM_ENDED);
  ComInitialized = 0;
  return 0;
}

int IsComInitialized() { return ComInitialized; }

HRESULT RunComCreateRequest(const ComCreateRequest* request) {
  return CreateComInstance(request->classId, request->outer, request->context, request->interfaceId, request->object,
                           0);
}

namespace {

// Main-thread side of a creation posted by a loading worker.
int ServeComCreateRequest(MainThreadRequest* posted) {
  ComCreateRequest request;
  memcpy(&request, posted->params, sizeof(request));
  return static_cast<int>(RunComCreateRequest(&request));
}

}  // namespace

HRESULT CreateComInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** object,
                          int onMainThread) {
  if (onMainThread) {
    ComCreateRequest request;
    request.classId = classId;
    request.outer = outer;
    request.context = context;
    request.interfaceId = interfaceId;
    request.object = object;
    // A loading worker hands the creation to the main thread; any other
    // thread runs it at once.
    if (IsASyncLoadWorkerThread()) {
      MainThreadRequest posted = {};
      static_assert(sizeof(request) <= sizeof(posted.params), "creation arguments fit a request");
      posted.function = ServeComCreateRequest;
      memcpy(posted.params, &request, sizeof(request));
      return static_cast<HRESULT>(PostMainThreadRequest(&posted));
    }
    return RunComCreateRequest(&request);
  }
  if (SystemLibs.CoCreateInstanceFunc == nullptr) {
    if (object != nullptr) *object = nullptr;
    return CO_E_NOTINITIALIZED;
  }
  return SystemLibs.CoCreateInstanceFunc(classId, outer, context, interfaceId, object);
}
