// Network layer, shared part: the network state, handle type 10 with its
// records (socket closed and ring buffers freed on deletion), the network
// lock and log line, the socket window and its pump step, start-up (winsock,
// listening and connecting handles) and shut-down.
//
// Threads and locks: everything runs on the thread that started the layer
// (the thread of the library's message pump), inside the lock of handle
// type 10, which is re-entrant; the socket window's messages are dispatched
// on that thread only.
//
// Platform: winsock 2 through the system-library table (WSAStartup,
// WSACleanup, WSAGetLastError, WSAAsyncSelect, socket, bind, listen,
// connect, closesocket, inet_addr, htons); RegisterClassExA,
// CreateWindowExA (a message-only window), PeekMessageA, TranslateMessage,
// DispatchMessageA, PostMessageA, Sleep, CloseHandle.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "NeZetorak.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"

namespace {

// Log texts.
const char LOG_NETWORK_LINE[] = "ネットワークログ。%s[%d]";
const char LOG_ENDING[] = "ネットワーク関連の終了処理を行います ";
const char LOG_ENDED[] = "ネットワーク関連の終了処理は完了しました";
const char LOG_WINSOCK_INCOMPLETE[] = "ws2_32.dll の関数が揃っていないためネットワークを開始できません";
const char LOG_WSASTARTUP_FAILED[] = "WSAStartupに失敗しました";
const char LOG_SOCKET_WINDOW_FAILED[] = "ソケット用ウインドウの作成に失敗しました";
const char LOG_HANDLE_SETUP_FAILED[] = "ネットワークハンドルの初期化に失敗しました";
const char LOG_STARTED[] = "ネットワーク関連の初期化を行いました";
const char LOG_HANDLE_CREATE_FAILED[] = "ネットワークハンドルの作成に失敗しました in %s";
const char LOG_SOCKET_FAILED[] = "socketに失敗しました in %s";
const char LOG_ASYNC_SELECT_FAILED[] = "WSAAsyncSelectのエラー in %s";
const char LOG_BAD_LISTEN_ADDRESS[] = "待ち受けのアドレスかポートが不正です( %s : %d )";
const char LOG_ALREADY_LISTENING[] = "待ち受け用のネットワークハンドルは既にあります";
const char LOG_BIND_FAILED[] = "bindに失敗しました( port %d )";
const char LOG_LISTEN_FAILED[] = "listenに失敗しました( port %d )";
const char LOG_BAD_CONNECT_ADDRESS[] = "接続先のアドレスかポートが不正です( %s : %d )";
const char LOG_CONNECT_FAILED[] = "connectに失敗しました( %s : %d )";

}  // namespace

NetworkState NetState;
int NetworkReceiveBusy = 0;
int NetworkSendBusy = 0;

namespace {

const char SOCKET_WINDOW_CLASS_NAME[] = "RiDovSocketWindow";

HandleManager* NetworkManager() { return &HandleManagers[HANDLETYPE_NETWORK]; }

}  // namespace

// Enters the network lock when the type is set up; 1 when it was entered.
int EnterNetworkLock(int line) {
  HandleManager* manager = NetworkManager();
  if (!manager->initialized) return 0;
  EnterLock(&manager->lock, "NeZetorak", line);
  return 1;
}

void LeaveNetworkLock(int entered) {
  if (entered) LeaveLock(&NetworkManager()->lock);
}

int NetworkLogPrintf(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  text[sizeof(text) - 1] = '\0';
  const int code = SystemLibs.WSAGetLastErrorFunc != nullptr ? SystemLibs.WSAGetLastErrorFunc() : 0;
  LogPrintf(LOG_NETWORK_LINE, text, code);
  return -1;
}

NetworkHandleRecord* GetNetworkRecord(int handle) {
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_NETWORK);
  if (header == nullptr || header->asyncLoadCount != 0) return nullptr;
  return reinterpret_cast<NetworkHandleRecord*>(header);
}

// ---------------------------------------------------------------------------
// Handle type 10

namespace {

int CreateNetworkRecord(HandleRecordHeader* header) {
  reinterpret_cast<NetworkHandleRecord*>(header)->socket = INVALID_SOCKET;
  return 0;
}

int DeleteNetworkRecord(HandleRecordHeader* header) {
  NetworkHandleRecord* record = reinterpret_cast<NetworkHandleRecord*>(header);
  if (record->socket != INVALID_SOCKET && SystemLibs.closesocketFunc != nullptr)
    SystemLibs.closesocketFunc(record->socket);
  record->socket = INVALID_SOCKET;
  ReleaseRingBuffer(&record->receiveBuffer);
  ReleaseRingBuffer(&record->sendBuffer);
  if (NetState.listeningHandle == header->handle) NetState.listeningHandle = -1;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pump step and shut-down

namespace {

bool IsFinishedHandle(const NetworkHandleRecord* record) {
  if (record->inUse != 1) return false;
  if (record->error == 1) return true;
  return record->connected == 0 && record->lossTaken == 1 && record->autoDelete == 1;
}

}  // namespace

int PumpNetworkWindowMessages(int deleteFinished) {
  if (NetState.socketWindow == nullptr || NetState.started == 0) return 0;
  const int locked = EnterNetworkLock(__LINE__);

  HandleManager* manager = NetworkManager();
  if (deleteFinished == 1 && manager->initialized) {
    // Newest first; the successor is taken before the handle may go.
    HandleListNode* node = manager->listHead.next;
    while (node != nullptr && node != &manager->listTail) {
      HandleListNode* next = node->next;
      NetworkHandleRecord* record = static_cast<NetworkHandleRecord*>(node->owner);
      if (NetState.started != 0 && IsFinishedHandle(record)) DeleteHandle(record->header.handle);
      node = next;
    }
  }

  MSG message;
  while (PeekMessageA(&message, NetState.socketWindow, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  LeaveNetworkLock(locked);
  return 0;
}

int ShutdownNetwork() {
  if (NetState.started == 0) return 0;
  LogPrintf(LOG_ENDING);

  if (NetState.thread != nullptr) {
    NetState.threadEndRequest = 1;
    while (*static_cast<volatile int*>(&NetState.threadEnded) == 0) Sleep(1);
    CloseHandle(NetState.thread);
    NetState.thread = nullptr;
  }

  TermHandleType(HANDLETYPE_NETWORK);

  if (NetState.socketWindow != nullptr) {
    PostMessageA(NetState.socketWindow, WM_CLOSE, 0, 0);
    if (NetState.socketWindowEnded == 0) {
      while (PumpNetworkWindowMessages(0) > 0 && NetState.socketWindowEnded == 0) {
      }
    }
  }

  MemFill(&NetState, 0, sizeof(NetState));
  if (SystemLibs.WSACleanupFunc != nullptr) SystemLibs.WSACleanupFunc();
  LogPrintf(LOG_ENDED);
  return 0;
}

// ---------------------------------------------------------------------------
// Start-up

namespace {

LRESULT CALLBACK SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      if (window == NetState.socketWindow) NetState.socketWindowEnded = 1;
      return 0;
    case SOCKET_EVENT_MESSAGE: return HandleSocketEventMessage(window, message, wParam, lParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateSocketWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = SocketWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = SOCKET_WINDOW_CLASS_NAME;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return CreateWindowExA(0, SOCKET_WINDOW_CLASS_NAME, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
}

bool HasWinsockEntries() {
  const SystemLibraryTable& s = SystemLibs;
  return s.WSAStartupFunc != nullptr && s.WSACleanupFunc != nullptr && s.WSAGetLastErrorFunc != nullptr &&
         s.WSAAsyncSelectFunc != nullptr && s.socketFunc != nullptr && s.bindFunc != nullptr &&
         s.listenFunc != nullptr && s.connectFunc != nullptr && s.acceptFunc != nullptr && s.recvFunc != nullptr &&
         s.sendFunc != nullptr && s.closesocketFunc != nullptr && s.inet_addrFunc != nullptr && s.htonsFunc != nullptr;
}

}  // namespace

int StartNetwork() {
  if (NetState.started != 0) return 0;
  if (!HasWinsockEntries()) {
    LogPrintf(LOG_WINSOCK_INCOMPLETE);
    return -1;
  }
  WSADATA data;
  if (SystemLibs.WSAStartupFunc(MAKEWORD(2, 2), &data) != 0) {
    NetworkLogPrintf(LOG_WSASTARTUP_FAILED);
    return -1;
  }
  HWND window = CreateSocketWindow();
  if (window == nullptr) {
    LogPrintf(LOG_SOCKET_WINDOW_FAILED);
    SystemLibs.WSACleanupFunc();
    return -1;
  }
  if (InitHandleType(HANDLETYPE_NETWORK, sizeof(NetworkHandleRecord), NETWORK_HANDLE_MAX, CreateNetworkRecord,
                     DeleteNetworkRecord, "ネットワーク") != 0 ||
      !NetworkManager()->initialized) {
    LogPrintf(LOG_HANDLE_SETUP_FAILED);
    DestroyWindow(window);
    SystemLibs.WSACleanupFunc();
    return -1;
  }
  MemFill(&NetState, 0, sizeof(NetState));
  NetState.listeningHandle = -1;
  NetState.socketWindow = window;
  NetState.started = 1;
  LogPrintf(LOG_STARTED);
  return 0;
}

namespace {

// Dotted IPv4 text into an address; false for text that is no address.
bool ParseIPv4(const char* text, unsigned long* address) {
  if (text == nullptr) return false;
  *address = SystemLibs.inet_addrFunc(text);
  return *address != INADDR_NONE || strcmp(text, "255.255.255.255") == 0;
}

// A fresh stream socket in a new handle, its events selected; the handle,
// or -1 with nothing left (lock held by the caller).
int MakeSocketHandle(long events, const char* caller) {
  const int handle = CreateHandle(HANDLETYPE_NETWORK, -1);
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  if (record == nullptr) {
    LogPrintf(LOG_HANDLE_CREATE_FAILED, caller);
    return -1;
  }
  record->socket = SystemLibs.socketFunc(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (record->socket == INVALID_SOCKET) {
    NetworkLogPrintf(LOG_SOCKET_FAILED, caller);
    goto refuse;
  }
  if (SystemLibs.WSAAsyncSelectFunc(record->socket, NetState.socketWindow, SOCKET_EVENT_MESSAGE, events) ==
      SOCKET_ERROR) {
    NetworkLogPrintf(LOG_ASYNC_SELECT_FAILED, caller);
    goto refuse;
  }
  return handle;

refuse:
  DeleteHandle(handle);
  return -1;
}

}  // namespace

int ListenNetwork(int port, const char* address) {
  if (NetState.started == 0) return -1;
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = INADDR_ANY;
  if (port < 0 || port > 65535 || (address != nullptr && !ParseIPv4(address, &local.sin_addr.s_addr))) {
    LogPrintf(LOG_BAD_LISTEN_ADDRESS, address != nullptr ? address : "", port);
    return -1;
  }
  local.sin_port = SystemLibs.htonsFunc(static_cast<unsigned short>(port));

  const int locked = EnterNetworkLock(__LINE__);
  int handle = -1;
  NetworkHandleRecord* record;
  if (GetNetworkRecord(NetState.listeningHandle) != nullptr) {
    LogPrintf(LOG_ALREADY_LISTENING);
    goto refuse;
  }
  handle = MakeSocketHandle(FD_ACCEPT, "ListenNetwork");
  if (handle == -1) goto refuse;
  record = GetNetworkRecord(handle);
  if (SystemLibs.bindFunc(record->socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
    NetworkLogPrintf(LOG_BIND_FAILED, port);
    goto refuse;
  }
  if (SystemLibs.listenFunc(record->socket, SOMAXCONN) == SOCKET_ERROR) {
    NetworkLogPrintf(LOG_LISTEN_FAILED, port);
    goto refuse;
  }
  NetState.listeningHandle = handle;
  LeaveNetworkLock(locked);
  return handle;

refuse:
  if (handle != -1) DeleteHandle(handle);
  LeaveNetworkLock(locked);
  return -1;
}

int ConnectNetwork(const char* address, int port) {
  if (NetState.started == 0) return -1;
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  if (port <= 0 || port > 65535 || !ParseIPv4(address, &peer.sin_addr.s_addr)) {
    LogPrintf(LOG_BAD_CONNECT_ADDRESS, address != nullptr ? address : "", port);
    return -1;
  }
  peer.sin_port = SystemLibs.htonsFunc(static_cast<unsigned short>(port));

  const int locked = EnterNetworkLock(__LINE__);
  const int handle = MakeSocketHandle(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE, "ConnectNetwork");
  if (handle == -1) {
    LeaveNetworkLock(locked);
    return -1;
  }
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  record->inUse = 1;
  record->connecting = 1;
  record->framing = NetState.noFraming == 0 ? 1 : 0;
  record->autoDelete = NetState.noAutoDelete == 0 ? 1 : 0;
  MemCopy(record->peerIPv4, &peer.sin_addr, 4);
  record->peerPort = peer.sin_port;
  // The socket does not block: the connect event reports the outcome.
  if (SystemLibs.connectFunc(record->socket, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) == SOCKET_ERROR &&
      SystemLibs.WSAGetLastErrorFunc() != WSAEWOULDBLOCK) {
    NetworkLogPrintf(LOG_CONNECT_FAILED, address, port);
    DeleteHandle(handle);
    LeaveNetworkLock(locked);
    return -1;
  }
  LeaveNetworkLock(locked);
  return handle;
}
