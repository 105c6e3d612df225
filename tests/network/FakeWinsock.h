// Fake winsock entries for the system-library table: sockets are numbers,
// each with scripted incoming bytes (served as they are "delivered") and a
// record of the bytes sent, with per-call limits to make short transfers.
#ifndef FAKE_WINSOCK_H
#define FAKE_WINSOCK_H

#include <winsock2.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fake_winsock {

struct FakeSocket {
  std::string arrived;         // delivered, not yet taken
  std::string sent;            // every byte sent
  std::deque<int> sendLimits;  // per send call: most bytes taken, -1 an error
  std::deque<int> recvLimits;  // per recv call (peeks included): most bytes, -1 an error
  long selectedEvents = -1;
  bool closed = false;
};

struct FakeWinsockState {
  std::map<UINT_PTR, FakeSocket> sockets;
  UINT_PTR nextSocket = 100;
  int lastError = 0;
  int startups = 0;
  int cleanups = 0;
  int recvCalls = 0;
  int sendCalls = 0;
  int acceptFails = 0;             // accept calls still to fail
  int selectFails = 0;             // WSAAsyncSelect calls still to fail
  std::vector<int> acceptLengths;  // address length passed to each accept
  sockaddr_in acceptPeer = {};
};

extern FakeWinsockState Fake;

// Installs the fakes in SystemLibs (saving the real table); Restore puts it back.
void Install();
void Restore();

// Makes bytes available to the socket's recv.
void Deliver(UINT_PTR socket, const std::string& bytes);
// A length header (little-endian) followed by the data.
std::string Framed(const std::string& data);
std::string Header(int length);

}  // namespace fake_winsock

#endif  // FAKE_WINSOCK_H
