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

int WrapRingBufferPositions(RingBuffer* buffer) {
  if (buffer->readPosition == buffer->capacity) buffer->readPosition = 0;
  if (buffer->writePosition == buffer->capacity) buffer->writePosition = 0;
  return 0;
}

// Posts again the read or write events refused while a receive or send ran
// (the record's deferred flag given), once that call has ended.
static void PostDeferredEvents(int NetworkHandleRecord::*deferred, int event) {
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

// ---------------------------------------------------------------------------
// Accept

int AcceptNetWork() {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  PumpNetworkWindowMessages(0);

  NetworkHandleRecord* listening = GetNetworkRecord(NetState.listeningHandle);
  if (listening == nullptr) {
    LeaveNetworkLock(locked);
    return -1;
  }
  const int handle = CreateHandle(HANDLETYPE_NETWORK, -1);
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  if (handle == -1 || record == nullptr) {
    LogWriteText("accept 用のハンドル作成に失敗しました \n");
    LeaveNetworkLock(locked);
    return -1;
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

  union {
    sockaddr_in v4;
    sockaddr_in6 v6;
  } peer = {};
  int length = record->ipv6 != 0 ? 28 : 16;
  record->socket = SystemLibs.acceptFunc(listening->socket, reinterpret_cast<sockaddr*>(&peer), &length);
  if (record->socket == INVALID_SOCKET) {
    NetworkLogPrintf("acceptに失敗しました");
    DeleteHandle(handle);
    LeaveNetworkLock(locked);
    return -1;
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
    NetworkLogPrintf("WSAAsyncSelectのエラー in AcceptNetWork");
    DeleteHandle(handle);
    LeaveNetworkLock(locked);
    return -1;
  }
  LeaveNetworkLock(locked);
  return 1;
}

// ---------------------------------------------------------------------------
// Receive

// Takes the next length header when four bytes wait: 1 taken (room made),
// 0 not yet, -1 failed (error flag set).
static int TakeLengthHeader(NetworkHandleRecord* record) {
  int scratch = 0;
  int got = SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(&scratch), 4, MSG_PEEK);
  if (got == SOCKET_ERROR || got < 4) return 0;

  int length = 0;
  got = SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(&length), 4, 0);
  if (got == SOCKET_ERROR) return 0;
  if (got < 4) {
    // Part of a header is gone: the stream is out of step for good.
    LogPrintf("受信したメッセージの長さを読み取れませんでした(%d byte)", got);
    record->error = 1;
    return -1;
  }
  if (length < 0 || length > NETWORK_MESSAGE_LENGTH_CAP) {
    LogPrintf("受信したメッセージの長さが不正です(データサイズ %d byte)", length);
    record->error = 1;
    return -1;
  }
  record->incomingLeft = length;
  record->incomingLength = length;
  if (ReserveRingBuffer(&record->receiveBuffer, length) != 0) {
    LogPrintf("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ %d byte)", length);
    record->error = 1;
    return -1;
  }
  return 1;
}

int RecvSocket(int handle) {
  if (NetState.started == 0) return -1;
  const int locked = EnterNetworkLock(__LINE__);
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  if (record == nullptr || record->datagram != 0 || NetworkReceiveBusy == 1) {
    LeaveNetworkLock(locked);
    return -1;
  }
  NetworkReceiveBusy = 1;
  PumpNetworkWindowMessages(0);

  int result = 0;
  if (record->inUse == 0) {
    LogWriteText("有効なネットワークハンドルではありません in RecvSocket\n");
    result = -1;
  } else if (record->error == 1) {
    LogWriteText("このネットワークハンドルにはエラーが発生しています in RecvSocket\n");
    result = -1;
  } else if (record->framing == 1) {
    RingBuffer* ring = &record->receiveBuffer;
    for (;;) {
      if (record->incomingLeft == 0) {
        const int header = TakeLengthHeader(record);
        if (header == -1) result = -1;
        if (header != 1) break;
      }

      WrapRingBufferPositions(ring);
      const long long write = ring->writePosition;
      const long long size = ring->capacity;
      const long long left = record->incomingLeft;
      long long newWrite = write;
      int count = 0;
      if (left == 0) {
        // A zero-length message: nothing to take.
      } else if (write + left > size) {
        // The rest of the message passes the end of the ring.
        const int first = static_cast<int>(size - write);
        const int got = SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(ring->data + write), first, 0);
        if (got == SOCKET_ERROR) break;
        if (got < first) {
          newWrite = write + got;
          count = got;
        } else {
          const int more = SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(ring->data),
                                               static_cast<int>(left - got), 0);
          if (more == SOCKET_ERROR) {
            newWrite = 0;
            count = got;
          } else {
            newWrite = more;
            count = got + more;
          }
        }
      } else {
        const int got = SystemLibs.recvFunc(record->socket, reinterpret_cast<char*>(ring->data + write),
                                            static_cast<int>(left), 0);
        if (got == SOCKET_ERROR) break;
        newWrite = write + got;
        count = got;
      }
      ring->writePosition = static_cast<int>(newWrite);

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
  NetworkHandleRecord* record = GetNetworkRecord(handle);
  if (record == nullptr || record->datagram != 0 || NetworkSendBusy == 1) {
    LeaveNetworkLock(locked);
    return -1;
  }
  NetworkSendBusy = 1;
  PumpNetworkWindowMessages(0);

  int result = 0;
  RingBuffer* ring = &record->sendBuffer;
  if (record->inUse == 0) {
    LogWriteText("有効なネットワークハンドルではありません in SendSocket\n");
    result = -1;
  } else if (record->error == 1) {
    LogWriteText("このネットワークハンドルにはエラーが発生しています in SendSocket\n");
    result = -1;
  } else if (ring->dataSize != 0 && record->framing == 1) {
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
        const int sent = SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(&record->outgoingLeft), 4, 0);
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
      const long long read = ring->readPosition;
      const long long size = ring->capacity;
      const long long left = record->outgoingLeft;
      long long newRead = read;
      int count = 0;
      if (read + left > size) {
        const int first = static_cast<int>(size - read);
        const int sent = SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(ring->data + read), first, 0);
        if (sent == SOCKET_ERROR) break;
        if (sent < first) {
          newRead = read + sent;
          count = sent;
        } else {
          const int more = SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(ring->data),
                                               static_cast<int>(left - sent), 0);
          if (more == SOCKET_ERROR) {
            newRead = 0;
            count = sent;
          } else {
            newRead = more;
            count = sent + more;
          }
        }
      } else {
        const int sent = SystemLibs.sendFunc(record->socket, reinterpret_cast<const char*>(ring->data + read),
                                             static_cast<int>(left), 0);
        if (sent == SOCKET_ERROR) break;
        newRead = read + sent;
        count = sent;
      }
      ring->readPosition = static_cast<int>(newRead);

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
    LogWriteText("通信エラー No.1\n");
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
      case FD_ACCEPT:
        result = AcceptNetWork();
        break;
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
