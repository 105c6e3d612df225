// The network layer over real winsock on 127.0.0.1: framed messages both
// ways, many connections opened and closed, and the layer inside the
// started library (its pump and shut-down).
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "NeZetorak.h"
#include "RaRadara.h"
#include "RaRadaraSystem.h"
#include "RiDov.h"
#include "ZiDezaru.h"

namespace {

const char kLoopback[] = "127.0.0.1";

// Counts the sockets made and closed, passing the calls on.
struct SocketCounter {
  int opened = 0;
  int closed = 0;
};
SocketCounter Sockets;
UINT_PTR(WINAPI* RealSocket)(int, int, int);
UINT_PTR(WINAPI* RealAccept)(UINT_PTR, sockaddr*, int*);
int(WINAPI* RealClose)(UINT_PTR);

UINT_PTR WINAPI CountingSocket(int family, int type, int protocol) {
  const UINT_PTR s = RealSocket(family, type, protocol);
  if (s != INVALID_SOCKET) Sockets.opened++;
  return s;
}
UINT_PTR WINAPI CountingAccept(UINT_PTR listener, sockaddr* address, int* length) {
  const UINT_PTR s = RealAccept(listener, address, length);
  if (s != INVALID_SOCKET) Sockets.opened++;
  return s;
}
int WINAPI CountingClose(UINT_PTR s) {
  const int result = RealClose(s);
  if (result == 0) Sockets.closed++;
  return result;
}

void InstallCounters() {
  Sockets = SocketCounter();
  RealSocket = SystemLibs.socketFunc;
  RealAccept = SystemLibs.acceptFunc;
  RealClose = SystemLibs.closesocketFunc;
  SystemLibs.socketFunc = CountingSocket;
  SystemLibs.acceptFunc = CountingAccept;
  SystemLibs.closesocketFunc = CountingClose;
}

void RemoveCounters() {
  if (RealSocket == nullptr) return;
  SystemLibs.socketFunc = RealSocket;
  SystemLibs.acceptFunc = RealAccept;
  SystemLibs.closesocketFunc = RealClose;
}

// Listens on a free loopback port; the port, or -1.
int ListenOnSomePort(int* handle) {
  int port = 20000 + static_cast<int>(GetCurrentProcessId() * 37 % 30000);
  for (int attempt = 0; attempt < 50; attempt++, port++) {
    *handle = ListenNetwork(port, kLoopback);
    if (*handle >= 0) return port;
  }
  return -1;
}

std::vector<NetworkHandleRecord*> AcceptedRecords() {
  std::vector<NetworkHandleRecord*> out;
  HandleManager& manager = HandleManagers[HANDLETYPE_NETWORK];
  for (HandleListNode* node = manager.listHead.next; node != &manager.listTail; node = node->next) {
    NetworkHandleRecord* r = static_cast<NetworkHandleRecord*>(node->owner);
    if (r->newlyAccepted == 1) out.push_back(r);
  }
  return out;
}

// Runs `pump` until `done` holds or about five seconds pass.
template <typename Done, typename Pump>
bool PumpUntil(Done done, Pump pump) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 5000) return false;
    pump();
    Sleep(1);
  }
  return true;
}

bool PumpNetworkUntil(const std::function<bool()>& done) {
  return PumpUntil(done, [] { PumpNetworkWindowMessages(1); });
}

void Queue(NetworkHandleRecord* r, const std::string& bytes) {
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, bytes.data(), static_cast<int>(bytes.size())));
}

std::string Take(NetworkHandleRecord* r) {
  std::string out(r->completeBytes, '\0');
  if (!out.empty()) {
    EXPECT_EQ(0, ReadRingBuffer(&r->receiveBuffer, &out[0], r->completeBytes, 0));
  }
  r->completeBytes = 0;
  return out;
}

std::string Pattern(int size) {
  std::string out(size, '\0');
  for (int i = 0; i < size; i++) out[i] = static_cast<char>((i * 131 + i / 256) & 255);
  return out;
}

// Counts the receiving side's recv calls; past a bound it sends the rest of
// the header from the stalled peer, so that a spinning pump step ends.
int RecvCalls = 0;
UINT_PTR StalledPeer = INVALID_SOCKET;
int(WINAPI* RealRecv)(UINT_PTR, char*, int, int);
const int kHeaderThree = 3;
int WINAPI CountingRecv(UINT_PTR s, char* buffer, int length, int flags) {
  if (s != StalledPeer && ++RecvCalls == 500)
    SystemLibs.sendFunc(StalledPeer, reinterpret_cast<const char*>(&kHeaderThree) + 2, 2, 0);
  return RealRecv(s, buffer, length, flags);
}

class NetworkLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();  // a library shut-down frees them
    ASSERT_NE(nullptr, SystemLibs.ws2_32);
    InstallCounters();
    blocks_ = GetAllocCount();
    ASSERT_EQ(0, StartNetwork()) << log_.Text();
    port_ = ListenOnSomePort(&listening_);
    ASSERT_GT(port_, 0) << log_.Text();
  }
  void TearDown() override {
    ShutdownNetwork();
    RemoveCounters();
  }

  // One client connected and accepted; the two records.
  void Connect(NetworkHandleRecord** client, NetworkHandleRecord** server) {
    const size_t accepted = AcceptedRecords().size();
    const int handle = ConnectNetwork(kLoopback, port_);
    ASSERT_GE(handle, 0) << log_.Text();
    *client = GetNetworkRecord(handle);
    NetworkHandleRecord* c = *client;
    ASSERT_TRUE(PumpNetworkUntil([&] { return c->connected == 1 && AcceptedRecords().size() == accepted + 1; }))
        << log_.Text();
    *server = AcceptedRecords().front();
  }

  test_support::LogCapture log_{"network_loopback"};
  int blocks_ = 0;
  int listening_ = -1;
  int port_ = -1;
};

TEST_F(NetworkLoopbackTest, FramedMessagesBothWays) {
  NetworkHandleRecord* client = nullptr;
  NetworkHandleRecord* server = nullptr;
  ASSERT_NO_FATAL_FAILURE(Connect(&client, &server));
  EXPECT_EQ(0, client->connecting);
  EXPECT_EQ(127, server->peerIPv4[0]);

  Queue(client, "hello");
  EXPECT_EQ(0, SendSocket(client->header.handle));
  ASSERT_TRUE(PumpNetworkUntil([&] { return server->completeBytes == 5; })) << log_.Text();
  EXPECT_EQ("hello", Take(server));

  // A reply far larger than the socket buffers goes out over many write
  // events, and two more messages follow it.
  const std::string big = Pattern(3 * 1024 * 1024 + 17);
  Queue(server, big);
  EXPECT_EQ(0, SendSocket(server->header.handle));
  ASSERT_TRUE(PumpNetworkUntil([&] { return server->sendBuffer.dataSize == 0; }));
  Queue(server, "second");
  EXPECT_EQ(0, SendSocket(server->header.handle));
  ASSERT_TRUE(PumpNetworkUntil([&] { return client->completeBytes == static_cast<int>(big.size()) + 6; }))
      << log_.Text();
  EXPECT_TRUE(Take(client) == big + "second");
  EXPECT_EQ(0, client->error + server->error);

  // The client goes: the server's handle sees the close, and once the loss
  // is taken the pump step ends it.
  const int serverHandle = server->header.handle;
  EXPECT_EQ(0, DeleteHandle(client->header.handle));
  ASSERT_TRUE(PumpNetworkUntil([&] { return server->connected == 0; }));
  EXPECT_EQ(serverHandle, GetLostNetWork());
  PumpNetworkWindowMessages(1);
  EXPECT_EQ(nullptr, GetNetworkRecord(serverHandle));
}

TEST_F(NetworkLoopbackTest, PartHeaderFromAStalledPeerDoesNotSpinThePump) {
  NetworkHandleRecord* client = nullptr;
  NetworkHandleRecord* server = nullptr;
  ASSERT_NO_FATAL_FAILURE(Connect(&client, &server));
  RecvCalls = 0;
  StalledPeer = client->socket;
  RealRecv = SystemLibs.recvFunc;
  SystemLibs.recvFunc = CountingRecv;
  ASSERT_EQ(2, SystemLibs.sendFunc(client->socket, reinterpret_cast<const char*>(&kHeaderThree), 2, 0));
  for (int i = 0; i < 50; i++) {
    PumpNetworkWindowMessages(1);
    Sleep(2);
  }
  const int calls = RecvCalls;
  EXPECT_EQ(0, server->incomingLeft);
  if (calls < 500) {
    ASSERT_EQ(2, SystemLibs.sendFunc(client->socket, reinterpret_cast<const char*>(&kHeaderThree) + 2, 2, 0));
  }
  ASSERT_EQ(3, SystemLibs.sendFunc(client->socket, "abc", 3, 0));
  const bool done = PumpNetworkUntil([&] { return server->completeBytes == 3; });
  SystemLibs.recvFunc = RealRecv;
  EXPECT_LT(calls, 100) << "the waiting part header raised read events again and again";
  ASSERT_TRUE(done);
  EXPECT_EQ("abc", Take(server));
}

TEST_F(NetworkLoopbackTest, HundredConnectionsLeaveNothingBehind) {
  // A first connection settles what winsock and the log keep for good.
  {
    NetworkHandleRecord* client = nullptr;
    NetworkHandleRecord* server = nullptr;
    ASSERT_NO_FATAL_FAILURE(Connect(&client, &server));
    DeleteHandle(client->header.handle);
    DeleteHandle(server->header.handle);
  }
  const int blocks = GetAllocCount();
  const int opened = Sockets.opened;

  std::vector<int> clients;
  for (int i = 0; i < 100; i++) {
    const int handle = ConnectNetwork(kLoopback, port_);
    ASSERT_GE(handle, 0) << i << log_.Text();
    clients.push_back(handle);
  }
  ASSERT_TRUE(PumpNetworkUntil([&] {
    if (AcceptedRecords().size() != 100) return false;
    for (int handle : clients)
      if (GetNetworkRecord(handle)->connected != 1) return false;
    return true;
  })) << AcceptedRecords().size();

  // One message each way on every connection.
  for (int handle : clients) {
    Queue(GetNetworkRecord(handle), "ping");
    SendSocket(handle);
  }
  for (NetworkHandleRecord* server : AcceptedRecords()) {
    Queue(server, "pong");
    SendSocket(server->header.handle);
  }
  ASSERT_TRUE(PumpNetworkUntil([&] {
    for (NetworkHandleRecord* server : AcceptedRecords())
      if (server->completeBytes != 4) return false;
    for (int handle : clients)
      if (GetNetworkRecord(handle)->completeBytes != 4) return false;
    return true;
  }));

  for (int handle : clients) EXPECT_EQ(0, DeleteHandle(handle));
  ASSERT_TRUE(PumpNetworkUntil([&] {
    for (NetworkHandleRecord* server : AcceptedRecords())
      if (server->connected != 0) return false;
    return true;
  }));
  std::vector<int> servers;
  for (NetworkHandleRecord* server : AcceptedRecords()) servers.push_back(server->header.handle);
  std::vector<int> lost;
  for (int handle = GetLostNetWork(); handle != -1; handle = GetLostNetWork()) lost.push_back(handle);
  std::sort(servers.begin(), servers.end());
  std::sort(lost.begin(), lost.end());
  EXPECT_EQ(servers, lost) << "every closed connection handed over once";
  PumpNetworkWindowMessages(1);

  EXPECT_EQ(1, HandleManagers[HANDLETYPE_NETWORK].count) << "only the listening handle";
  EXPECT_EQ(opened + 200, Sockets.opened);
  EXPECT_EQ(Sockets.opened - 1, Sockets.closed) << "every socket but the listening one closed";
  EXPECT_EQ(blocks, GetAllocCount()) << "no memory block left";

  ShutdownNetwork();
  EXPECT_EQ(Sockets.opened, Sockets.closed);
  EXPECT_EQ(blocks_, GetAllocCount());
}

// The layer inside the started library: the library's pump drives it and
// the library's shut-down ends it.
TEST(NetworkInLibraryTest, LibraryPumpDrivesTheLayerAndShutdownEndsIt) {
  test_support::LogCapture log("network_library");
  ChangeWindowMode(1);
  SetScreenMode(960, 720, 16, 60);
  SetTitleText("RiDov network test");
  SetAlwaysRunFlag(1);
  ASSERT_EQ(0, LibraryStartUp()) << log.Text();
  ASSERT_EQ(0, StartNetwork());

  int listening = -1;
  const int port = ListenOnSomePort(&listening);
  ASSERT_GT(port, 0);
  const int handle = ConnectNetwork(kLoopback, port);
  ASSERT_GE(handle, 0);
  NetworkHandleRecord* client = GetNetworkRecord(handle);
  auto pump = [] { PumpWindowMessages(); };
  ASSERT_TRUE(PumpUntil([&] { return client->connected == 1 && AcceptedRecords().size() == 1; }, pump));
  NetworkHandleRecord* server = AcceptedRecords().front();
  Queue(client, "through the library");
  SendSocket(handle);
  ASSERT_TRUE(PumpUntil([&] { return server->completeBytes == 19; }, pump));
  EXPECT_EQ("through the library", Take(server));

  HWND socketWindow = NetState.socketWindow;
  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(0, NetState.started);
  EXPECT_FALSE(IsWindow(socketWindow)) << "the socket window is closed";
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_NETWORK].initialized);
  const std::string text = log.Text();
  EXPECT_NE(std::string::npos, text.find("ネットワーク関連の終了処理を行います")) << text;
  EXPECT_NE(std::string::npos, text.find("ネットワーク関連の終了処理は完了しました")) << text;
}

}  // namespace
