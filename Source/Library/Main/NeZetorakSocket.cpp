// Network layer, operations on one handle: accepting an incoming
// connection, receiving length-prefixed messages into the receive ring,
// sending the send ring's bytes as such messages, and the socket-event
// message handler that drives them.
//
// Threads and locks: the message-pump thread, inside the network lock; each
// operation runs the pump step, so events dispatched in the middle of a call
// re-enter on the same thread (the busy flags refuse a nested receive or
// send).
//
// Platform: winsock 2 through the system-library table (accept, recv, send,
// WSAAsyncSelect, WSAGetLastError).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "NeZetorak.h"

#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"

namespace {

// Log texts.
const char LOG_ACCEPT_HANDLE_FAILED[] = "accept 用のハンドル作成に失敗しました ";
const char LOG_ACCEPT_FAILED[] = "acceptに失敗しました";
const char LOG_ACCEPT_ASYNC_SELECT_FAILED[] = "WSAAsyncSelectのエラー in AcceptNetWork";
const char LOG_BAD_MESSAGE_LENGTH[] = "受信したメッセージの長さが不正です(データサイズ %d byte)";
const char LOG_RECEIVE_RESIZE_FAILED[] =
    "受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %d byte)";
const char LOG_INVALID_HANDLE[] = "有効なネットワークハンドルではありません in %s";
const char LOG_HANDLE_IN_ERROR[] = "このネットワークハンドルにはエラーが発生しています in %s";
const char LOG_TRANSFER_ERROR[] = "通信エラー No.1";

}  // namespace

void WrapRingBufferPositions(RingBuffer* buffer) {
  if (buffer->readPosition == buffer->capacity) buffer->readPosition = 0;
  if (buffer->writePosition == buffer->capacity) buffer->writePosition = 0;
}

namespace {

// Posts again the read or write events refused while a receive or send ran
// (the record's deferred flag given), once that call has ended.
void PostDeferredEvents(int NetworkHandleRecord::*deferred, int event) {
  HandleManager* manager = &HandleManagers[HANDLETYPE_NETWORK];
  if (!manager->initialized || NetState.socketWindow == nullptr) return;
  for (HandleListNode* node = manager->listHead.next; node != nullptr && node != &manager->listTail;
       node = node->next) {
    NetworkHandleRecord* record = static_cast<NetworkHandleRecord*>(node->owner);
    if (record->*deferred == 0) continue;
    record->*deferred = 0;
    PostMessageA(NetState.socketWindow, SOCKET_EVENT_MESSAGE, record->socket, MAKELONG(event, 0));
  }
}

// Moves `left` bytes at *position of a ring of `capacity` bytes through
// transfer(at, size) (a recv or send), continuing at the ring's start when
// they pass its end. The count moved, with *position just past the bytes,
// or SOCKET_ERROR when the first transfer fails (nothing moved). A failure
// of the second transfer keeps the first part's count. Sums in 64 bits.
template <typename Transfer>
int TransferAroundEnd(unsigned char* data, int* position, int capacity, int left, Transfer transfer) {
  const long long at = *position;
  if (at + left <= capacity) {
    const int moved = transfer(data + at, left);
    if (moved == SOCKET_ERROR) return SOCKET_ERROR;
    *position = static_cast<int>(at + moved);
    return moved;
  }
  const int first = static_cast<int>(capacity - at);
  const int moved = transfer(data + at, first);
  if (moved == SOCKET_ERROR) return SOCKET_ERROR;
  if (moved < first) {
    *position = static_cast<int>(at + moved);
    return moved;
  }
  const int more = transfer(data, left - moved);
  if (more == SOCKET_ERROR) {
    *position = 0;
    return moved;
  }
  *position = more;
  return moved + more;
}

}  // namespace

// ---------------------------------------------------------------------------
// Accept

int AcceptNetWork() {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  PumpNetworkWindowMessages(0);

  NetworkHandleRecord* listening = GetNetworkRecord(NetState.listeningHandle);
  int handle = -1;
  NetworkHandleRecord* record;
  int length;
  union {
    sockaddr_in v4;
    sockaddr_in6 v6;
  } peer = {};
  if (listening == nullptr) goto refuse;
  handle = CreateHandle(HANDLETYPE_NETWORK, -1);
  record = GetNetworkRecord(handle);
  if (handle == -1 || record == nullptr) {
    LogPrintf(LOG_ACCEPT_HANDLE_FAILED);
    goto refuse;
  }

  record->datagram = 0;
  record->ipv6 = listening->ipv6;
  record->error = 0;
  record->inUse = 1;
  record->connecting = 0;
  record->connected = 1;
  record->lossTaken = 0;
  record->reserved = 0;
  record->newlyAccepted = 1;
  record->framing = NetState.noFraming == 0 ? 1 : 0;
  record->autoDelete = NetState.noAutoDelete == 0 ? 1 : 0;
  if (record->framing == 1) {
    InitRingBuffer(&record->receiveBuffer);
    record->incomingLeft = 0;
    record->incomingLength = 0;
    record->completeBytes = 0;
    InitRingBuffer(&record->sendBuffer);
    record->outgoingLeft = 0;
    record->headerLeft = 0;
  }

  length = record->ipv6 != 0 ? 28 : 16;
  record->socket = SystemLibs.acceptFunc(listening->socket, reinterpret_cast<sockaddr*>(&peer), &length);
  if (record->socket == INVALID_SOCKET) {
    NetworkLogPrintf(LOG_ACCEPT_FAILED);
    goto refuse;
  }
  if (record->ipv6 != 0) {
    MemCopy(record->peerIPv6, &peer.v6.sin6_addr, 16);
    record->peerPort = peer.v6.sin6_port;
  } else {
    MemCopy(record->peerIPv4, &peer.v4.sin_addr, 4);
    record->peerPort = peer.v4.sin_port;
  }

  if (SystemLibs.WSAAsyncSelectFunc(record->socket, NetState.socketWindow, SOCKET_EVENT_MESSAGE,
                                    FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
    NetworkLogPrintf(LOG_ACCEPT_ASYNC_SELECT_FAILED);
    goto refuse;
  }
  LeaveNetworkLock(locked);
  return 1;

refuse:
  if (handle != -1) DeleteHandle(handle);
  LeaveNetworkLock(locked);
  return -1;
}

// ---------------------------------------------------------------------------
// Receive

namespace {

// Takes what has arrived of the next length header: 1 when it is whole
// (room made for the message), 0 while part of it is missing, -1 failed
// (error flag set).
int TakeLengthHeader(NetworkHandleRecord* record) {
  const int got = SystemLibs.recvFunc(record->socket,
                                      reinterpret_cast<char*>(record->headerBytes + record->headerReceived),
                                      4 - record->headerReceived, 0);
  if (got == SOCKET_ERROR || got <= 0) return 0;
  record->headerReceived += got;
  if (record->headerReceived < 4) return 0;
  record->headerReceived = 0;

  int length = 0;
  MemCopy(&length, record->headerBytes, 4);
  if (length < 0 || length > NETWORK_MESSAGE_LENGTH_CAP) {
    LogPrintf(LOG_BAD_MESSAGE_LENGTH, length);
    record->error = 1;
    return -1;
  }
  record->incomingLeft = length;
  record->incomingLength = length;
  if (ReserveRingBuffer(&record->receiveBuffer, length) != 0) {
    LogPrintf(LOG_RECEIVE_RESIZE_FAILED, length);
    record->error = 1;
    return -1;
  }
  return 1;
}

// Shared start of RecvSocket and SendSocket, the network lock held: null
// for a handle refused without a log line (not a stream network handle, or
// the operation already running); else the record with `busy` set and the
// pump step run, and *refused 1 after the log line of a handle not in use
// or failed.
NetworkHandleRecord* BeginTransfer(int handle, int* busy, const char* operation, int* refused) {
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  if (record == nullptr || record->datagram != 0 || *busy == 1) return nullptr;
  *busy = 1;
  PumpNetworkWindowMessages(0);
  *refused = 1;
  if (record->inUse == 0) {
    LogPrintf(LOG_INVALID_HANDLE, operation);
  } else if (record->error == 1) {
    LogPrintf(LOG_HANDLE_IN_ERROR, operation);
  } else {
    *refused = 0;
  }
  return record;
}

}  // namespace

int RecvSocket(int handle) {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  int refused = 0;
  NetworkHandleRecord* record = BeginTransfer(handle, &NetworkReceiveBusy, "RecvSocket", &refused);
  if (record == nullptr) {
    LeaveNetworkLock(locked);
    return -1;
  }
  int result = refused != 0 ? -1 : 0;
  if (result == 0 && record->framing == 1) {
    RingBuffer* ring = &record->receiveBuffer;
    for (;;) {
      if (record->incomingLeft == 0) {
        const int header = TakeLengthHeader(record);
        if (header == -1) result = -1;
        if (header != 1) break;
      }

      WrapRingBufferPositions(ring);
      int count = 0;
      if (record->incomingLeft != 0) {
        // A zero-length message takes nothing.
        count = TransferAroundEnd(ring->data, &ring->writePosition, ring->capacity, record->incomingLeft,
                                  [record](unsigned char* at, int size) {
                                    return SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(at), size, 0);
                                  });
        if (count == SOCKET_ERROR) break;
      }

      ring->dataSize += count;
      record->incomingLeft -= count;
      if (record->incomingLeft == 0) record->completeBytes += record->incomingLength;

      if (PumpNetworkWindowMessages(0) != 0) break;
      if (count <= 0 || record->incomingLeft != 0) break;
    }
  }

  NetworkReceiveBusy = 0;
  PostDeferredEvents(&NetworkHandleRecord::readDeferred, FD_READ);
  LeaveNetworkLock(locked);
  return result;
}

// ---------------------------------------------------------------------------
// Send

int SendSocket(int handle) {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  int refused = 0;
  NetworkHandleRecord* record = BeginTransfer(handle, &NetworkSendBusy, "SendSocket", &refused);
  if (record == nullptr) {
    LeaveNetworkLock(locked);
    return -1;
  }
  int result = refused != 0 ? -1 : 0;
  RingBuffer* ring = &record->sendBuffer;
  if (result == 0 && ring->dataSize != 0 && record->framing == 1) {
    for (;;) {
      if (record->headerLeft != 0) {
        // The rest of a part-sent header: the last headerLeft bytes of the
        // message length.
        const char* header = reinterpret_cast<const char*>(&record->outgoingLeft);
        const int sent = SystemLibs.sendFunc(record->socket, header + 4 - record->headerLeft, record->headerLeft, 0);
        if (sent == SOCKET_ERROR) break;
        record->headerLeft -= sent;
        if (record->headerLeft != 0) break;
      }
      if (record->outgoingLeft == 0) {
        // A new message of every byte queued now.
        record->outgoingLeft = ring->dataSize;
        const int sent = SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(&record->outgoingLeft), 4,
                                             0);
        if (sent == SOCKET_ERROR) {
          record->outgoingLeft = 0;
          break;
        }
        if (sent < 4) {
          record->headerLeft = 4 - sent;
          break;
        }
      }

      WrapRingBufferPositions(ring);
      const int count = TransferAroundEnd(
          ring->data, &ring->readPosition, ring->capacity, record->outgoingLeft, [record](unsigned char* at, int size) {
            return SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(at), size, 0);
          });
      if (count == SOCKET_ERROR) break;

      ring->dataSize -= count;
      record->outgoingLeft -= count;

      if (PumpNetworkWindowMessages(0) != 0) break;
      if (count == 0 || record->outgoingLeft != 0) break;
      if (ring->dataSize == 0) break;
    }
  }

  NetworkSendBusy = 0;
  PostDeferredEvents(&NetworkHandleRecord::writeDeferred, FD_WRITE);
  LeaveNetworkLock(locked);
  return result;
}

// ---------------------------------------------------------------------------
// Socket events

LRESULT HandleSocketEventMessage(HWND, UINT, WPARAM wParam, LPARAM lParam) {
  const int locked = EnterNetworkLock(__LINE__);
  NetworkHandleRecord* record = nullptr;
  HandleManager* manager = &HandleManagers[HANDLETYPE_NETWORK];
  if (manager->initialized) {
    for (HandleListNode* node = manager->listHead.next; node != nullptr && node != &manager->listTail;
         node = node->next) {
      NetworkHandleRecord* candidate = static_cast<NetworkHandleRecord*>(node->owner);
      if (candidate->socket == static_cast<UINT_PTR>(wParam)) {
        record = candidate;
        break;
      }
    }
  }
  if (record == nullptr) {
    LeaveNetworkLock(locked);
    LogPrintf(LOG_TRANSFER_ERROR);
    return 0;
  }

  const int event = LOWORD(lParam);
  const int error = HIWORD(lParam);
  int result = 1;
  if (record->datagram != 0) {
    if (event == FD_READ) record->readable = 1;
    if (event == FD_WRITE) record->writable = 1;
  } else {
    switch (event) {
      case FD_READ:
        if (RecvSocket(record->header.handle) == -1 && NetworkReceiveBusy == 1) record->readDeferred = 1;
        break;
      case FD_WRITE:
        if (SendSocket(record->header.handle) == -1 && NetworkSendBusy == 1) record->writeDeferred = 1;
        break;
      case FD_ACCEPT: result = AcceptNetWork(); break;
      case FD_CONNECT:
        if (error == 0) {
          record->connected = 1;
          record->connecting = 0;
        }
        break;
      case FD_CLOSE:
        record->connected = 0;
        record->lossTaken = 0;
        break;
    }
  }
  LeaveNetworkLock(locked);
  return result;
}

// ---------------------------------------------------------------------------
// Handing new and lost connections to the program

namespace {

bool IsNewConnection(const NetworkHandleRecord* record) { return record->newlyAccepted == 1; }

// In use, no error, no connect under way, closed, and its loss not yet taken.
bool IsLostConnection(const NetworkHandleRecord* record) {
  return record->datagram == 0 && record->inUse == 1 && record->error == 0 && record->connecting == 0 &&
         record->connected == 0 && record->lossTaken == 0;
}

// The oldest network handle that `matches` (the handle list runs newest
// first, so it is walked from its tail); null when none.
NetworkHandleRecord* OldestRecord(bool (*matches)(const NetworkHandleRecord*)) {
  HandleManager* manager = &HandleManagers[HANDLETYPE_NETWORK];
  if (!manager->initialized) return nullptr;
  for (HandleListNode* node = manager->listTail.prev; node != nullptr && node != &manager->listHead;
       node = node->prev) {
    NetworkHandleRecord* record = static_cast<NetworkHandleRecord*>(node->owner);
    if (matches(record)) return record;
  }
  return nullptr;
}

}  // namespace

int GetNewAcceptNetWork() {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  PumpNetworkWindowMessages(0);
  NetworkHandleRecord* record = OldestRecord(IsNewConnection);
  int handle = -1;
  if (record != nullptr) {
    record->newlyAccepted = 0;
    handle = record->header.handle;
  }
  LeaveNetworkLock(locked);
  return handle;
}

int GetLostNetWork() {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  PumpNetworkWindowMessages(0);
  NetworkHandleRecord* record = OldestRecord(IsLostConnection);
  int handle = -1;
  if (record != nullptr) {
    record->lossTaken = 1;
    handle = record->header.handle;
  }
  LeaveNetworkLock(locked);
  return handle;
}
