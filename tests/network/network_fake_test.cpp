// The network layer against fake winsock entries: the pump step's deletion
// rule, shut-down, accepting, framed receive and send with short transfers,
// hostile lengths and the socket-event table.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "FakeWinsock.h"
#include "LogCapture.h"
#include "NeZetorak.h"
#include "RaRadaraLog.h"
#include "ZiDezaru.h"

using fake_winsock::Deliver;
using fake_winsock::Fake;
using fake_winsock::Framed;
using fake_winsock::Header;

namespace {

LPARAM Event(int code, int error = 0) { return static_cast<LPARAM>(MAKELONG(code, error)); }

std::string HeldBytes(RingBuffer* ring, int count) {
  std::string out(count, '\0');
  if (count > 0) {
    EXPECT_EQ(0, ReadRingBuffer(ring, &out[0], count, 1));
  }
  return out;
}

void FakeSocketLimits(UINT_PTR socket, std::initializer_list<int> limits) {
  Fake.sockets[socket].sendLimits.assign(limits);
}

std::string Pattern(int size, int seed) {
  std::string out(size, '\0');
  for (int i = 0; i < size; i++) out[i] = static_cast<char>((i * 7 + seed) & 255);
  return out;
}

class NetworkFakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_winsock::Install();
    ASSERT_EQ(0, StartNetwork()) << log_.Text();
    listening_ = ListenNetwork(5000, "127.0.0.1");
    ASSERT_GE(listening_, 0);
  }
  void TearDown() override {
    ShutdownNetwork();
    fake_winsock::Restore();
    RingBufferAlloc = MemAlloc;
  }

  // A connection accepted on the listening handle; its handle.
  int Accept() {
    const int before = HandleManagers[HANDLETYPE_NETWORK].count;
    EXPECT_EQ(1, AcceptNetWork());
    EXPECT_EQ(before + 1, HandleManagers[HANDLETYPE_NETWORK].count);
    // The newest record is at the front of the list.
    return static_cast<HandleRecordHeader*>(HandleManagers[HANDLETYPE_NETWORK].listHead.next->owner)->handle;
  }
  NetworkHandleRecord* Record(int handle) { return GetNetworkRecord(handle); }
  LRESULT Send(int handle, int code, int error = 0) {
    return HandleSocketEventMessage(nullptr, SOCKET_EVENT_MESSAGE, Record(handle)->socket, Event(code, error));
  }
  // Leaves the ring empty with both positions at `position`.
  static void PlaceRing(RingBuffer* ring, int capacityNeeded, int position) {
    ASSERT_EQ(0, ReserveRingBuffer(ring, capacityNeeded));
    std::string filler(position, 'x');
    ASSERT_EQ(0, WriteRingBuffer(ring, filler.data(), position));
    ASSERT_EQ(0, ReadRingBuffer(ring, &filler[0], position, 0));
    ASSERT_EQ(position, ring->readPosition);
  }

  test_support::LogCapture log_{"network_fake"};
  int listening_ = -1;
};

// ---------------------------------------------------------------------------
// Pump step

struct DeletionCase {
  int inUse, error, connected, lossTaken, autoDelete;
  bool deleted;
};

TEST_F(NetworkFakeTest, PumpDeletesExactlyFailedAndLostAutoDeleteHandles) {
  const DeletionCase cases[] = {
      {1, 1, 1, 0, 0, true},   // error, still connected
      {1, 1, 0, 0, 0, true},   // error, closed
      {1, 0, 0, 1, 1, true},   // lost, taken, auto-delete
      {1, 0, 0, 0, 1, false},  // loss not taken yet
      {1, 0, 0, 1, 0, false},  // no auto-delete
      {1, 0, 1, 1, 1, false},  // still connected
      {0, 1, 0, 1, 1, false},  // not in use: stays even with its error flag
      {1, 0, 1, 0, 1, false},  // a plain live connection
  };
  std::vector<int> handles;
  for (const DeletionCase& c : cases) {
    const int handle = Accept();
    NetworkHandleRecord* r = Record(handle);
    r->inUse = c.inUse;
    r->error = c.error;
    r->connected = c.connected;
    r->lossTaken = c.lossTaken;
    r->autoDelete = c.autoDelete;
    handles.push_back(handle);
  }
  PumpNetworkWindowMessages(0);
  for (int handle : handles) EXPECT_NE(nullptr, Record(handle)) << "the pump step with 0 deletes nothing";

  EXPECT_EQ(0, PumpNetworkWindowMessages(1));
  for (size_t i = 0; i < handles.size(); i++) {
    SCOPED_TRACE(i);
    const UINT_PTR socket = 101 + i;  // the listening socket is 100
    EXPECT_EQ(cases[i].deleted, Record(handles[i]) == nullptr);
    EXPECT_EQ(cases[i].deleted, Fake.sockets[socket].closed) << "a deleted handle's socket is closed";
  }
  EXPECT_NE(nullptr, Record(listening_));
}

TEST_F(NetworkFakeTest, DeletingNeighboursDuringTheWalkDeletesEveryOne) {
  std::vector<int> handles;
  for (int i = 0; i < 5; i++) {
    handles.push_back(Accept());
    Record(handles.back())->error = 1;
  }
  PumpNetworkWindowMessages(1);
  for (int handle : handles) EXPECT_EQ(nullptr, Record(handle));
  EXPECT_EQ(1, HandleManagers[HANDLETYPE_NETWORK].count);
}

TEST_F(NetworkFakeTest, PumpDispatchesTheSocketWindowsMessages) {
  const int handle = Accept();
  Deliver(Record(handle)->socket, Framed("abc"));
  ASSERT_TRUE(PostMessageA(NetState.socketWindow, SOCKET_EVENT_MESSAGE, Record(handle)->socket, Event(FD_READ)));
  EXPECT_EQ(0, PumpNetworkWindowMessages(1));
  EXPECT_EQ(3, Record(handle)->completeBytes);
}

TEST(NetworkStoppedTest, EverythingReturnsAtOnceBeforeAStart) {
  test_support::LogCapture log("network_stopped");
  fake_winsock::Install();
  EXPECT_EQ(0, PumpNetworkWindowMessages(1));
  EXPECT_EQ(-1, AcceptNetWork());
  EXPECT_EQ(-1, RecvSocket(0));
  EXPECT_EQ(-1, SendSocket(0));
  EXPECT_EQ(-1, ListenNetwork(5000, nullptr));
  EXPECT_EQ(-1, ConnectNetwork("127.0.0.1", 5000));
  EXPECT_EQ(0, ShutdownNetwork());
  EXPECT_EQ(0, Fake.cleanups);
  EXPECT_EQ(0, Fake.recvCalls + Fake.sendCalls);
  EXPECT_FALSE(log.Has("ネットワーク関連の終了処理")) << "shut-down without a start writes nothing";
  fake_winsock::Restore();
}

// ---------------------------------------------------------------------------
// Shut-down

TEST_F(NetworkFakeTest, ShutdownEndsEveryHandleTheWindowAndWinsock) {
  const int a = Accept();
  const int b = Accept();
  Record(a)->error = 1;  // no matter their state
  ASSERT_EQ(0, WriteRingBuffer(&Record(b)->sendBuffer, "queued", 6));
  HWND window = NetState.socketWindow;
  NetworkReceiveBusy = 1;  // the busy flags are not part of the state
  const int blocks = GetAllocCount();

  EXPECT_EQ(0, ShutdownNetwork());
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_NETWORK].initialized);
  EXPECT_LT(GetAllocCount(), blocks);
  for (auto& entry : Fake.sockets) EXPECT_TRUE(entry.second.closed) << entry.first;
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(1, Fake.cleanups);
  const std::string text = log_.Text();
  const size_t begin = text.find("ネットワーク関連の終了処理を行います ");
  const size_t end = text.find("ネットワーク関連の終了処理は完了しました");
  ASSERT_NE(std::string::npos, begin) << text;
  ASSERT_NE(std::string::npos, end) << text;
  EXPECT_LT(begin, end);

  NetworkState zero = {};
  EXPECT_EQ(0, memcmp(&zero, &NetState, sizeof(zero)));
  EXPECT_EQ(1, NetworkReceiveBusy);
  NetworkReceiveBusy = 0;
  EXPECT_EQ(0, PumpNetworkWindowMessages(1));
  EXPECT_EQ(-1, AcceptNetWork());
  EXPECT_EQ(0, ShutdownNetwork());
  EXPECT_EQ(1, Fake.cleanups) << "a second shut-down does nothing";
}

DWORD WINAPI NetworkThreadBody(void*) {
  while (*static_cast<volatile int*>(&NetState.threadEndRequest) == 0) Sleep(1);
  Sleep(20);
  *static_cast<volatile int*>(&NetState.threadEnded) = 1;
  return 0;
}

TEST_F(NetworkFakeTest, ShutdownWaitsForTheNetworkThread) {
  NetState.thread = CreateThread(nullptr, 0, NetworkThreadBody, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, NetState.thread);
  HANDLE duplicate = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), NetState.thread, GetCurrentProcess(), &duplicate, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_EQ(0, ShutdownNetwork());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(duplicate, 0)) << "the thread had finished";
  CloseHandle(duplicate);
  EXPECT_EQ(nullptr, NetState.thread);
}

TEST_F(NetworkFakeTest, ShutdownWithAFinishedThreadClosesItsHandle) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  NetState.thread = event;
  NetState.threadEnded = 1;
  EXPECT_EQ(0, ShutdownNetwork());
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(event, &flags)) << "the handle was closed";
}

TEST_F(NetworkFakeTest, ShutdownWithTheWindowEndedPostsCloseAndPumpsNothing) {
  HWND window = NetState.socketWindow;
  NetState.socketWindowEnded = 1;
  EXPECT_EQ(0, ShutdownNetwork());
  MSG message;
  EXPECT_TRUE(PeekMessageA(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "WM_CLOSE is still waiting";
  EXPECT_TRUE(IsWindow(window));
  DestroyWindow(window);
}

TEST_F(NetworkFakeTest, LogLineCarriesTheWinsockError) {
  Fake.lastError = 10035;
  EXPECT_EQ(-1, NetworkLogPrintf("acceptに失敗しました"));
  EXPECT_TRUE(log_.Has("ネットワークログ。acceptに失敗しました[10035]")) << log_.Text();
}

// ---------------------------------------------------------------------------
// Accept

TEST_F(NetworkFakeTest, AcceptFillsTheNewHandle) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  EXPECT_EQ(16, Fake.acceptLengths.back());
  EXPECT_EQ(1, r->inUse);
  EXPECT_EQ(1, r->connected);
  EXPECT_EQ(1, r->newlyAccepted);
  EXPECT_EQ(1, r->framing);
  EXPECT_EQ(1, r->autoDelete);
  EXPECT_EQ(0, r->connecting + r->lossTaken + r->error + r->datagram);
  EXPECT_EQ(127, r->peerIPv4[0]);
  EXPECT_EQ(1, r->peerIPv4[3]);
  EXPECT_EQ(Fake.acceptPeer.sin_port, r->peerPort) << "the port as it arrives";
  EXPECT_EQ(FD_READ | FD_WRITE | FD_CLOSE, Fake.sockets[r->socket].selectedEvents);
}

TEST_F(NetworkFakeTest, AcceptOnAnIPv6ListenerPassesTheLongAddressAndSettings) {
  Record(listening_)->ipv6 = 1;
  NetState.noFraming = 1;
  NetState.noAutoDelete = 1;
  const int handle = Accept();
  EXPECT_EQ(28, Fake.acceptLengths.back());
  EXPECT_EQ(1, Record(handle)->ipv6);
  EXPECT_EQ(0, Record(handle)->framing);
  EXPECT_EQ(0, Record(handle)->autoDelete);
}

TEST_F(NetworkFakeTest, AcceptFailuresLeaveNothing) {
  const int count = HandleManagers[HANDLETYPE_NETWORK].count;
  Fake.acceptFails = 1;
  Fake.lastError = 0;
  EXPECT_EQ(-1, AcceptNetWork());
  EXPECT_TRUE(log_.Has("ネットワークログ。acceptに失敗しました[10035]")) << log_.Text();
  EXPECT_EQ(count, HandleManagers[HANDLETYPE_NETWORK].count);

  Fake.selectFails = 1;
  const UINT_PTR next = Fake.nextSocket;
  EXPECT_EQ(-1, AcceptNetWork());
  EXPECT_TRUE(log_.Has("WSAAsyncSelectのエラー in AcceptNetWork")) << log_.Text();
  EXPECT_EQ(count, HandleManagers[HANDLETYPE_NETWORK].count);
  EXPECT_TRUE(Fake.sockets[next].closed) << "the accepted socket is closed with its handle";

  DeleteHandle(listening_);
  const int blocks = GetAllocCount();
  EXPECT_EQ(-1, AcceptNetWork()) << "no listening handle";
  EXPECT_EQ(blocks, GetAllocCount());
}

TEST_F(NetworkFakeTest, AcceptEventGivesAcceptsResult) {
  EXPECT_EQ(1, Send(listening_, FD_ACCEPT));
  Fake.acceptFails = 1;
  EXPECT_EQ(-1, Send(listening_, FD_ACCEPT));
}

// ---------------------------------------------------------------------------
// Receive

TEST_F(NetworkFakeTest, HeaderSplitOverTwoEvents) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  const std::string message = Framed("hello, world");
  Deliver(r->socket, message.substr(0, 2));
  EXPECT_EQ(1, Send(handle, FD_READ));
  EXPECT_EQ(0, r->incomingLeft);
  EXPECT_EQ(0, r->completeBytes);
  EXPECT_EQ(2, r->headerReceived) << "a part header is taken and kept";
  Deliver(r->socket, message.substr(2));
  EXPECT_EQ(1, Send(handle, FD_READ));
  EXPECT_EQ(12, r->completeBytes);
  EXPECT_EQ("hello, world", HeldBytes(&r->receiveBuffer, 12));
}

TEST_F(NetworkFakeTest, MessageWrapsTheRingsEnd) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  PlaceRing(&r->receiveBuffer, 100, 0);
  const int capacity = r->receiveBuffer.capacity;
  PlaceRing(&r->receiveBuffer, 0, capacity - 10);
  const std::string data = Pattern(50, 3);

  // The header and part of the data first: nothing counts as whole yet.
  Deliver(r->socket, Header(50) + data.substr(0, 6));
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(44, r->incomingLeft);
  EXPECT_EQ(0, r->completeBytes);
  EXPECT_EQ(capacity - 4, r->receiveBuffer.writePosition);

  Deliver(r->socket, data.substr(6));
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(capacity, r->receiveBuffer.capacity) << "no growth was needed";
  EXPECT_EQ(40, r->receiveBuffer.writePosition) << "the rest went to the start";
  EXPECT_EQ(50, r->completeBytes);
  EXPECT_EQ(data, HeldBytes(&r->receiveBuffer, 50));
}

TEST_F(NetworkFakeTest, FirstPartOfAWrappingTransferShort) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  PlaceRing(&r->receiveBuffer, 100, 0);
  const int capacity = r->receiveBuffer.capacity;
  PlaceRing(&r->receiveBuffer, 0, capacity - 10);
  const std::string data = Pattern(30, 9);
  Deliver(r->socket, Framed(data));
  // The header, then the first part short, then whole.
  Fake.sockets[r->socket].recvLimits = {4, 7};
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(capacity - 3, r->receiveBuffer.writePosition);
  EXPECT_EQ(23, r->incomingLeft);
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(20, r->receiveBuffer.writePosition);
  EXPECT_EQ(30, r->completeBytes);
  EXPECT_EQ(data, HeldBytes(&r->receiveBuffer, 30));
}

TEST_F(NetworkFakeTest, TwoMessagesInOneEvent) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Framed("first") + Framed("second!"));
  EXPECT_EQ(1, Send(handle, FD_READ));
  EXPECT_EQ(12, r->completeBytes);
  EXPECT_EQ("firstsecond!", HeldBytes(&r->receiveBuffer, 12));
  EXPECT_TRUE(Fake.sockets[r->socket].arrived.empty());
}

TEST_F(NetworkFakeTest, ZeroLengthMessageCompletesAndStopsTheCall) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Framed("") + Framed("next"));
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(0, r->completeBytes);
  EXPECT_EQ(0, r->incomingLeft);
  EXPECT_EQ(8u, Fake.sockets[r->socket].arrived.size()) << "the next message waits for the next event";
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(4, r->completeBytes);
}

TEST_F(NetworkFakeTest, HostileLengthsFlagTheHandleAndReserveNothing) {
  const int lengths[] = {-1, INT_MIN, NETWORK_MESSAGE_LENGTH_CAP + 1, INT_MAX};
  for (int length : lengths) {
    SCOPED_TRACE(length);
    const int handle = Accept();
    NetworkHandleRecord* r = Record(handle);
    const UINT_PTR socket = r->socket;
    const int blocks = GetAllocCount();
    Deliver(socket, Header(length) + "tail");
    EXPECT_EQ(1, Send(handle, FD_READ));
    EXPECT_EQ(1, r->error);
    EXPECT_EQ(0, r->receiveBuffer.capacity);
    EXPECT_EQ(blocks, GetAllocCount());
    EXPECT_EQ(0, r->completeBytes);
    EXPECT_EQ(-1, RecvSocket(handle));
    EXPECT_TRUE(log_.Has("このネットワークハンドルにはエラーが発生しています in RecvSocket"));
    PumpNetworkWindowMessages(1);
    EXPECT_EQ(nullptr, Record(handle)) << "the next pump step ends the connection";
    EXPECT_TRUE(Fake.sockets[socket].closed);
  }
  EXPECT_TRUE(log_.Has("受信したメッセージの長さが不正です")) << log_.Text();
}

TEST_F(NetworkFakeTest, LengthAtTheCapIsTaken) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Header(NETWORK_MESSAGE_LENGTH_CAP) + "abc");
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(0, r->error);
  EXPECT_EQ(NETWORK_MESSAGE_LENGTH_CAP - 3, r->incomingLeft);
  EXPECT_GE(r->receiveBuffer.capacity, NETWORK_MESSAGE_LENGTH_CAP);
}

void* FailingAlloc(size_t, const char*, int) { return nullptr; }

TEST_F(NetworkFakeTest, ReadEventRefusedDuringAReceiveIsPostedAgain) {
  const int a = Accept();
  const int b = Accept();
  Deliver(Record(a)->socket, Framed("for a"));
  Deliver(Record(b)->socket, Framed("for b"));
  // B's event waits in the queue; A's receive dispatches it and refuses it.
  ASSERT_TRUE(PostMessageA(NetState.socketWindow, SOCKET_EVENT_MESSAGE, Record(b)->socket, Event(FD_READ)));
  EXPECT_EQ(0, RecvSocket(a));
  EXPECT_EQ(5, Record(a)->completeBytes);
  EXPECT_EQ(0, Record(b)->completeBytes);
  PumpNetworkWindowMessages(1);
  EXPECT_EQ(5, Record(b)->completeBytes) << "the refused event came again";
  EXPECT_EQ(0, Record(b)->readDeferred);
}

TEST_F(NetworkFakeTest, WriteEventRefusedDuringASendIsPostedAgain) {
  const int a = Accept();
  const int b = Accept();
  ASSERT_EQ(0, WriteRingBuffer(&Record(a)->sendBuffer, "aa", 2));
  ASSERT_EQ(0, WriteRingBuffer(&Record(b)->sendBuffer, "bbb", 3));
  ASSERT_TRUE(PostMessageA(NetState.socketWindow, SOCKET_EVENT_MESSAGE, Record(b)->socket, Event(FD_WRITE)));
  EXPECT_EQ(0, SendSocket(a));
  EXPECT_EQ("", Fake.sockets[Record(b)->socket].sent);
  PumpNetworkWindowMessages(1);
  EXPECT_EQ(Framed("bbb"), Fake.sockets[Record(b)->socket].sent);
}

TEST_F(NetworkFakeTest, RingThatCannotGrowFlagsTheHandle) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Framed("data"));
  RingBufferAlloc = FailingAlloc;
  EXPECT_EQ(-1, RecvSocket(handle));
  RingBufferAlloc = MemAlloc;
  EXPECT_EQ(1, r->error);
  EXPECT_TRUE(log_.Has("受信データを保存するリングバッファのリサイズに失敗しました(データサイズ 4 byte)"))
      << log_.Text();
}

TEST_F(NetworkFakeTest, ReceiveErrorsAndPeerCloseEndTheCallQuietly) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Framed("abcdef"));
  Fake.sockets[r->socket].recvLimits = {4, -1};  // the data transfer fails
  EXPECT_EQ(0, RecvSocket(handle));
  EXPECT_EQ(6, r->incomingLeft);
  EXPECT_EQ(0, r->error);
  EXPECT_EQ(0, RecvSocket(handle)) << "the next event resumes";
  EXPECT_EQ(6, r->completeBytes);
}

TEST_F(NetworkFakeTest, RefusalsOfReceiveAndSend) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  EXPECT_EQ(-1, RecvSocket(listening_)) << "the listening handle stands for no connection";
  EXPECT_TRUE(log_.Has("有効なネットワークハンドルではありません in RecvSocket"));
  EXPECT_EQ(-1, SendSocket(listening_));
  EXPECT_TRUE(log_.Has("有効なネットワークハンドルではありません in SendSocket"));
  r->error = 1;
  EXPECT_EQ(-1, SendSocket(handle));
  EXPECT_TRUE(log_.Has("このネットワークハンドルにはエラーが発生しています in SendSocket"));
  r->error = 0;

  const int calls = Fake.recvCalls + Fake.sendCalls;
  EXPECT_EQ(-1, RecvSocket(-1));
  EXPECT_EQ(-1, SendSocket(handle + 1));
  NetworkReceiveBusy = 1;
  NetworkSendBusy = 1;
  EXPECT_EQ(-1, RecvSocket(handle));
  EXPECT_EQ(-1, SendSocket(handle));
  EXPECT_EQ(1, NetworkReceiveBusy);
  NetworkReceiveBusy = 0;
  NetworkSendBusy = 0;
  r->datagram = 1;
  EXPECT_EQ(-1, RecvSocket(handle));
  EXPECT_EQ(-1, SendSocket(handle));
  EXPECT_EQ(calls, Fake.recvCalls + Fake.sendCalls);
  r->framing = 0;
  r->datagram = 0;
  Deliver(r->socket, Framed("x"));
  EXPECT_EQ(0, RecvSocket(handle)) << "no framing: nothing received";
  EXPECT_EQ(calls, Fake.recvCalls + Fake.sendCalls);
}

// ---------------------------------------------------------------------------
// Send

TEST_F(NetworkFakeTest, SendMakesOneMessageOfTheQueuedBytes) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, "0123456789", 10));
  EXPECT_EQ(1, Send(handle, FD_WRITE));
  EXPECT_EQ(Framed("0123456789"), Fake.sockets[r->socket].sent);
  EXPECT_EQ(0, r->sendBuffer.dataSize);
  EXPECT_EQ(0, r->outgoingLeft);
  EXPECT_EQ(0, SendSocket(handle)) << "nothing queued";
  EXPECT_EQ(Framed("0123456789"), Fake.sockets[r->socket].sent);
}

TEST_F(NetworkFakeTest, TwoByteHeaderSendResumesBeforeAnyData) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  FakeSocketLimits(r->socket, {2});
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, "0123456789", 10));
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(2, r->headerLeft);
  EXPECT_EQ(Header(10).substr(0, 2), Fake.sockets[r->socket].sent);

  // The data goes out in parts; bytes queued meanwhile wait for the next message.
  FakeSocketLimits(r->socket, {2, 3});
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(0, r->headerLeft);
  EXPECT_EQ(7, r->outgoingLeft);
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, "abcde", 5));
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(Framed("0123456789") + Framed("abcde"), Fake.sockets[r->socket].sent);
  EXPECT_EQ(0, r->sendBuffer.dataSize);
}

TEST_F(NetworkFakeTest, SendWrappingTheRingWithAShortSecondPart) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  PlaceRing(&r->sendBuffer, 100, 0);
  const int capacity = r->sendBuffer.capacity;
  PlaceRing(&r->sendBuffer, 0, capacity - 8);
  const std::string data = Pattern(20, 5);
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, data.data(), 20));
  FakeSocketLimits(r->socket, {4, 8, 5});  // header, first part whole, second short
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(5, r->sendBuffer.readPosition) << "just past the bytes sent from the start";
  EXPECT_EQ(7, r->sendBuffer.dataSize);
  EXPECT_EQ(7, r->outgoingLeft);
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(Framed(data), Fake.sockets[r->socket].sent);
}

TEST_F(NetworkFakeTest, SendErrorLeavesTheMessageToResume) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, "xyz", 3));
  FakeSocketLimits(r->socket, {-1});
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(0, r->outgoingLeft) << "a refused header starts over";
  FakeSocketLimits(r->socket, {4, -1});
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(3, r->outgoingLeft);
  EXPECT_EQ(0, SendSocket(handle));
  EXPECT_EQ(Framed("xyz"), Fake.sockets[r->socket].sent);
}

// ---------------------------------------------------------------------------
// Event table

TEST_F(NetworkFakeTest, ConnectAndCloseEvents) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  r->connected = 0;
  r->connecting = 1;
  EXPECT_EQ(1, Send(handle, FD_CONNECT, WSAECONNREFUSED));
  EXPECT_EQ(0, r->connected);
  EXPECT_EQ(1, r->connecting);
  EXPECT_EQ(1, Send(handle, FD_CONNECT));
  EXPECT_EQ(1, r->connected);
  EXPECT_EQ(0, r->connecting);
  r->lossTaken = 1;
  EXPECT_EQ(1, Send(handle, FD_CLOSE, WSAECONNRESET));
  EXPECT_EQ(0, r->connected);
  EXPECT_EQ(0, r->lossTaken);
}

// ---------------------------------------------------------------------------
// Handing connections to the program

TEST_F(NetworkFakeTest, NewConnectionsAreHandedOverOnceOldestFirst) {
  const int first = Accept();
  const int second = Accept();
  EXPECT_EQ(first, GetNewAcceptNetWork());
  EXPECT_EQ(0, Record(first)->newlyAccepted);
  EXPECT_EQ(second, GetNewAcceptNetWork());
  EXPECT_EQ(-1, GetNewAcceptNetWork());
  EXPECT_EQ(-1, GetLostNetWork()) << "both still connected";
}

TEST_F(NetworkFakeTest, ClosedConnectionsAreFreedOnceTheirLossIsTaken) {
  const int kept = Accept();
  const int freed = Accept();
  const int stays = Accept();
  Record(stays)->autoDelete = 0;
  const int live = Accept();
  const int counted = HandleManagers[HANDLETYPE_NETWORK].count;
  for (int handle : {kept, freed, stays}) EXPECT_EQ(1, Send(handle, FD_CLOSE));
  EXPECT_EQ(1, Record(kept)->inUse);

  // The pump step alone frees nothing the program has not seen lost.
  PumpNetworkWindowMessages(1);
  EXPECT_EQ(counted, HandleManagers[HANDLETYPE_NETWORK].count);

  EXPECT_EQ(kept, GetLostNetWork());
  EXPECT_EQ(1, Record(kept)->lossTaken);
  EXPECT_EQ(freed, GetLostNetWork());
  EXPECT_EQ(stays, GetLostNetWork());
  EXPECT_EQ(-1, GetLostNetWork()) << "each loss is handed over once";

  PumpNetworkWindowMessages(1);
  EXPECT_EQ(nullptr, Record(kept));
  EXPECT_EQ(nullptr, Record(freed));
  EXPECT_NE(nullptr, Record(stays)) << "no auto-delete: the program deletes it";
  EXPECT_NE(nullptr, Record(live));
  EXPECT_EQ(counted - 2, HandleManagers[HANDLETYPE_NETWORK].count);
}

TEST_F(NetworkFakeTest, ConnectionsStillConnectingOrFailedAreNoLoss) {
  const int connecting = Accept();
  Record(connecting)->connected = 0;
  Record(connecting)->connecting = 1;
  const int failed = Accept();
  Record(failed)->error = 1;
  EXPECT_EQ(1, Send(failed, FD_CLOSE));
  EXPECT_EQ(-1, GetLostNetWork());
  ShutdownNetwork();
  EXPECT_EQ(-1, GetLostNetWork()) << "stopped";
  EXPECT_EQ(-1, GetNewAcceptNetWork());
}

TEST_F(NetworkFakeTest, OtherCodesAndDatagramHandles) {
  const int handle = Accept();
  NetworkHandleRecord* r = Record(handle);
  Deliver(r->socket, Framed("abc"));
  ASSERT_EQ(0, WriteRingBuffer(&r->sendBuffer, "q", 1));
  const NetworkHandleRecord before = *r;
  EXPECT_EQ(1, Send(handle, 64));
  EXPECT_EQ(0, memcmp(&before, r, sizeof(before)));

  r->datagram = 1;
  const int calls = Fake.recvCalls + Fake.sendCalls;
  EXPECT_EQ(1, Send(handle, FD_READ));
  EXPECT_EQ(1, Send(handle, FD_WRITE));
  EXPECT_EQ(1, r->readable);
  EXPECT_EQ(1, r->writable);
  EXPECT_EQ(calls, Fake.recvCalls + Fake.sendCalls);
  const int count = HandleManagers[HANDLETYPE_NETWORK].count;
  EXPECT_EQ(1, Send(handle, FD_ACCEPT)) << "a datagram handle accepts nothing";
  EXPECT_EQ(count, HandleManagers[HANDLETYPE_NETWORK].count);
}

TEST_F(NetworkFakeTest, EventForAnUnknownSocket) {
  EXPECT_EQ(0, HandleSocketEventMessage(nullptr, SOCKET_EVENT_MESSAGE, 9999, Event(FD_READ)));
  EXPECT_TRUE(log_.Has("通信エラー No.1")) << log_.Text();
}

TEST_F(NetworkFakeTest, EventWaitingAfterShutdownFindsNoHandle) {
  const int handle = Accept();
  const UINT_PTR socket = Record(handle)->socket;
  ShutdownNetwork();
  const int calls = Fake.recvCalls;
  EXPECT_EQ(0, HandleSocketEventMessage(nullptr, SOCKET_EVENT_MESSAGE, socket, Event(FD_READ)));
  EXPECT_EQ(0, HandleSocketEventMessage(nullptr, SOCKET_EVENT_MESSAGE, socket, Event(FD_ACCEPT)));
  EXPECT_EQ(calls, Fake.recvCalls);
  EXPECT_TRUE(log_.Has("通信エラー No.1"));
}

// ---------------------------------------------------------------------------
// Start, listen, connect

TEST_F(NetworkFakeTest, ListenAndConnectRefusals) {
  EXPECT_EQ(-1, ListenNetwork(5001, nullptr)) << "one listening handle";
  EXPECT_EQ(-1, ConnectNetwork("127.0.0.1", 0));
  EXPECT_EQ(-1, ConnectNetwork(nullptr, 80));
  EXPECT_EQ(-1, ConnectNetwork("127.0.0.1", 70000));
  const int handle = ConnectNetwork("127.0.0.1", 5000);
  ASSERT_GE(handle, 0);
  NetworkHandleRecord* r = Record(handle);
  EXPECT_EQ(1, r->connecting);
  EXPECT_EQ(0, r->connected);
  EXPECT_EQ(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE, Fake.sockets[r->socket].selectedEvents);
  Fake.selectFails = 1;
  const UINT_PTR next = Fake.nextSocket;
  EXPECT_EQ(-1, ConnectNetwork("127.0.0.1", 5000));
  EXPECT_TRUE(Fake.sockets[next].closed);
}

}  // namespace
