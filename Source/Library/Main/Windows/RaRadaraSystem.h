// System libraries loaded by name, and COM. Only KERNEL32, USER32, GDI32
// and SHELL32 are linked; every other system service is reached through the
// entry-point variables below, which stay null when their library or entry
// is missing. Callers test them and go on without the service.
#ifndef RARADARA_SYSTEM_H
#define RARADARA_SYSTEM_H

#include <windows.h>
#include <mmsystem.h>
#include <imm.h>
#include <guiddef.h>

struct IUnknown;
struct WSAData;
struct sockaddr;
struct hostent;
struct addrinfo;

struct SystemLibraryTable {
  // ws2_32.dll
  HMODULE ws2_32;
  int(WINAPI* WSAGetLastErrorFunc)(void);
  int(WINAPI* WSAStartupFunc)(WORD version, WSAData* data);
  int(WINAPI* WSACleanupFunc)(void);
  int(WINAPI* WSAAsyncSelectFunc)(UINT_PTR socket, HWND window, unsigned int message, long events);
  int(WINAPI* getaddrinfoFunc)(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
  hostent*(WINAPI* gethostbyaddrFunc)(const char* address, int length, int type);
  hostent*(WINAPI* gethostbynameFunc)(const char* name);
  int(WINAPI* gethostnameFunc)(char* name, int length);
  unsigned short(WINAPI* ntohsFunc)(unsigned short value);
  unsigned short(WINAPI* htonsFunc)(unsigned short value);
  int(WINAPI* connectFunc)(UINT_PTR socket, const sockaddr* name, int length);
  UINT_PTR(WINAPI* socketFunc)(int family, int type, int protocol);
  int(WINAPI* sendFunc)(UINT_PTR socket, const char* buffer, int length, int flags);
  int(WINAPI* sendtoFunc)(UINT_PTR socket, const char* buffer, int length, int flags, const sockaddr* to, int toLength);
  int(WINAPI* recvfromFunc)(UINT_PTR socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
  UINT_PTR(WINAPI* acceptFunc)(UINT_PTR socket, sockaddr* address, int* length);
  int(WINAPI* closesocketFunc)(UINT_PTR socket);
  int(WINAPI* shutdownFunc)(UINT_PTR socket, int how);
  int(WINAPI* listenFunc)(UINT_PTR socket, int backlog);
  int(WINAPI* bindFunc)(UINT_PTR socket, const sockaddr* name, int length);
  unsigned long(WINAPI* inet_addrFunc)(const char* text);
  int(WINAPI* recvFunc)(UINT_PTR socket, char* buffer, int length, int flags);

  // Imm32.dll
  HMODULE imm32;
  HIMC(WINAPI* ImmGetContextFunc)(HWND window);
  BOOL(WINAPI* ImmReleaseContextFunc)(HWND window, HIMC context);
  BOOL(WINAPI* ImmGetOpenStatusFunc)(HIMC context);
  BOOL(WINAPI* ImmGetConversionStatusFunc)(HIMC context, DWORD* conversion, DWORD* sentence);
  BOOL(WINAPI* ImmNotifyIMEFunc)(HIMC context, DWORD action, DWORD index, DWORD value);
  BOOL(WINAPI* ImmSetOpenStatusFunc)(HIMC context, BOOL open);
  DWORD(WINAPI* ImmGetCandidateListAFunc)(HIMC context, DWORD index, CANDIDATELIST* list, DWORD bufferLength);
  DWORD(WINAPI* ImmGetCandidateListCountAFunc)(HIMC context, DWORD* listCount);
  LONG(WINAPI* ImmGetCompositionStringAFunc)(HIMC context, DWORD index, void* buffer, DWORD bufferLength);
  BOOL(WINAPI* ImmSetCompositionStringAFunc)
  (HIMC context, DWORD index, void* composition, DWORD compositionLength, void* reading, DWORD readingLength);

  // winmm.dll
  HMODULE winmm;
  MMRESULT(WINAPI* timeSetEventFunc)(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags);
  MMRESULT(WINAPI* timeKillEventFunc)(UINT timerId);
  MMRESULT(WINAPI* timeBeginPeriodFunc)(UINT period);
  MMRESULT(WINAPI* timeEndPeriodFunc)(UINT period);
  DWORD(WINAPI* timeGetTimeFunc)(void);
  MMRESULT(WINAPI* timeGetDevCapsFunc)(TIMECAPS* caps, UINT size);
  MMRESULT(WINAPI* joyGetPosExFunc)(UINT joystick, JOYINFOEX* info);
  MMRESULT(WINAPI* joyGetDevCapsAFunc)(UINT_PTR joystick, JOYCAPSA* caps, UINT size);
  MCIERROR(WINAPI* mciSendCommandAFunc)(MCIDEVICEID device, UINT message, DWORD_PTR param1, DWORD_PTR param2);

  // ole32.dll
  HMODULE ole32;
  HRESULT(WINAPI* CoCreateInstanceFunc)
  (REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** object);
  void*(WINAPI* CoTaskMemAllocFunc)(SIZE_T size);
  void(WINAPI* CoTaskMemFreeFunc)(void* memory);
  HRESULT(WINAPI* CoInitializeExFunc)(void* reserved, DWORD model);
  void(WINAPI* CoFreeUnusedLibrariesFunc)(void);
  void(WINAPI* CoUninitializeFunc)(void);

  // comctl32.dll
  HMODULE comctl32;
  void(WINAPI* InitCommonControlsFunc)(void);

  // dwmapi.dll (missing before Vista)
  HMODULE dwmapi;
  HRESULT(WINAPI* DwmEnableCompositionFunc)(UINT action);

  // User32.dll
  HMODULE user32;
  BOOL(WINAPI* WINNLSEnableIMEFunc)(HWND window, BOOL enable);
};
extern SystemLibraryTable SystemLibs;

// One entry point of a library: its exported name and the address of the
// function-pointer variable that receives it.
struct SystemEntryPoint {
  const char* name;
  void* variable;
};

// Loads one library and looks up its entries (a failed look-up leaves that
// entry null). -1 when the library cannot be loaded: handle and entries stay
// null. A library whose handle is already set is skipped (0).
int LoadSystemLibrary(const char* name, HMODULE* module, const SystemEntryPoint* entries, int count);
// Frees a loaded library and clears its handle and entries.
int FreeSystemLibrary(HMODULE* module, const SystemEntryPoint* entries, int count);

int LoadSystemLibraries();
int FreeSystemLibraries();

int InitializeCom();
int TerminateCom();
int IsComInitialized();

// With onMainThread non-zero the creation belongs to the main thread's
// apartment: it runs as a main-thread request built by RunComCreateRequest.
HRESULT CreateComInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** object,
                          int onMainThread);

// Packed arguments of a creation run for another thread.
struct ComCreateRequest {
  CLSID classId;
  IUnknown* outer;
  DWORD context;
  IID interfaceId;
  void** object;
};
HRESULT RunComCreateRequest(const ComCreateRequest* request);

#endif  // RARADARA_SYSTEM_H
