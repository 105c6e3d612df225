#include "FakeWinsock.h"

#include <string.h>

#include <algorithm>

#include "RaRadaraSystem.h"

namespace fake_winsock {

FakeWinsockState Fake;

namespace {

SystemLibraryTable Saved;

int TakeLimit(std::deque<int>* limits, int wanted) {
  if (limits->empty()) return wanted;
  const int limit = limits->front();
  limits->pop_front();
  return limit < 0 ? -1 : std::min(limit, wanted);
}

int WINAPI FakeWSAGetLastError() { return Fake.lastError; }
int WINAPI FakeWSAStartup(WORD, WSAData*) {
  Fake.startups++;
  return 0;
}
int WINAPI FakeWSACleanup() {
  Fake.cleanups++;
  return 0;
}
int WINAPI FakeWSAAsyncSelect(UINT_PTR socket, HWND, unsigned int, long events) {
  if (Fake.selectFails > 0) {
    Fake.selectFails--;
    Fake.lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  Fake.sockets[socket].selectedEvents = events;
  return 0;
}
UINT_PTR WINAPI FakeSocketCall(int, int, int) {
  const UINT_PTR socket = Fake.nextSocket++;
  Fake.sockets[socket];
  return socket;
}
int WINAPI FakeBind(UINT_PTR, const sockaddr*, int) { return 0; }
int WINAPI FakeListen(UINT_PTR, int) { return 0; }
int WINAPI FakeConnect(UINT_PTR, const sockaddr*, int) {
  Fake.lastError = WSAEWOULDBLOCK;
  return SOCKET_ERROR;
}
UINT_PTR WINAPI FakeAccept(UINT_PTR, sockaddr* address, int* length) {
  Fake.acceptLengths.push_back(length != nullptr ? *length : -1);
  if (Fake.acceptFails > 0) {
    Fake.acceptFails--;
    Fake.lastError = WSAEWOULDBLOCK;
    return INVALID_SOCKET;
  }
  if (address != nullptr && length != nullptr && *length >= static_cast<int>(sizeof(sockaddr_in)))
    memcpy(address, &Fake.acceptPeer, sizeof(sockaddr_in));
  return FakeSocketCall(0, 0, 0);
}
int WINAPI FakeCloseSocket(UINT_PTR socket) {
  Fake.sockets[socket].closed = true;
  return 0;
}
int WINAPI FakeRecv(UINT_PTR socket, char* buffer, int length, int flags) {
  Fake.recvCalls++;
  FakeSocket& s = Fake.sockets[socket];
  int count = TakeLimit(&s.recvLimits, length);
  if (count < 0) {
    Fake.lastError = WSAECONNRESET;
    return SOCKET_ERROR;
  }
  count = std::min<int>(count, static_cast<int>(s.arrived.size()));
  if (count == 0 && length > 0) {
    Fake.lastError = WSAEWOULDBLOCK;
    return SOCKET_ERROR;
  }
  memcpy(buffer, s.arrived.data(), count);
  if ((flags & MSG_PEEK) == 0) s.arrived.erase(0, count);
  return count;
}
int WINAPI FakeSend(UINT_PTR socket, const char* buffer, int length, int) {
  Fake.sendCalls++;
  FakeSocket& s = Fake.sockets[socket];
  const int count = TakeLimit(&s.sendLimits, length);
  if (count < 0) {
    Fake.lastError = WSAEWOULDBLOCK;
    return SOCKET_ERROR;
  }
  s.sent.append(buffer, count);
  return count;
}
unsigned long WINAPI FakeInetAddr(const char*) { return 0x0100007FUL; }
unsigned short WINAPI FakeHtons(unsigned short value) {
  return static_cast<unsigned short>((value >> 8) | (value << 8));
}

}  // namespace

void Install() {
  Saved = SystemLibs;
  Fake = FakeWinsockState();
  Fake.acceptPeer.sin_family = AF_INET;
  Fake.acceptPeer.sin_port = FakeHtons(4321);
  Fake.acceptPeer.sin_addr.s_addr = 0x0100007FUL;
  SystemLibs.WSAGetLastErrorFunc = FakeWSAGetLastError;
  SystemLibs.WSAStartupFunc = FakeWSAStartup;
  SystemLibs.WSACleanupFunc = FakeWSACleanup;
  SystemLibs.WSAAsyncSelectFunc = FakeWSAAsyncSelect;
  SystemLibs.socketFunc = FakeSocketCall;
  SystemLibs.bindFunc = FakeBind;
  SystemLibs.listenFunc = FakeListen;
  SystemLibs.connectFunc = FakeConnect;
  SystemLibs.acceptFunc = FakeAccept;
  SystemLibs.closesocketFunc = FakeCloseSocket;
  SystemLibs.recvFunc = FakeRecv;
  SystemLibs.sendFunc = FakeSend;
  SystemLibs.inet_addrFunc = FakeInetAddr;
  SystemLibs.htonsFunc = FakeHtons;
}

void Restore() { SystemLibs = Saved; }

void Deliver(UINT_PTR socket, const std::string& bytes) { Fake.sockets[socket].arrived += bytes; }

std::string Header(int length) { return std::string(reinterpret_cast<const char*>(&length), 4); }

std::string Framed(const std::string& data) { return Header(static_cast<int>(data.size())) + data; }

}  // namespace fake_winsock
