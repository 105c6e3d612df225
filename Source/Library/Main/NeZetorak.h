// Network layer: stream connections kept as network handles (handle type
// 10) whose winsock events arrive as window messages to a socket window;
// length-prefixed messages carried through two ring buffers per handle.
#ifndef NEZETORAK_H
#define NEZETORAK_H

#include <windows.h>

#include "RaRadara.h"  // SOCKET_EVENT_MESSAGE: wParam socket, lParam event | error << 16
#include "VeRavoro.h"
#include "ZaVizeDidazu.h"

// Largest message length a peer may announce; a larger or negative one
// marks the handle as failed and reserves nothing.
enum { NETWORK_MESSAGE_LENGTH_CAP = 64 * 1024 * 1024 };

// Most network handles alive at once.
enum { NETWORK_HANDLE_MAX = 8192 };

struct NetworkState {
  int listeningHandle;  // accepts incoming connections
  int started;          // non-zero while the layer runs
  HWND socketWindow;
  int noFraming;          // accepted handles carry no framing
  int noAutoDelete;       // accepted handles stay after a loss
  int socketWindowEnded;  // set when the socket window is destroyed
  HANDLE thread;          // network thread, or null
  int threadEnded;        // set by the thread when it finishes
  int threadEndRequest;   // set by shut-down
};
extern NetworkState NetState;

// Keep a receive (send) from starting inside another one on the same stack.
extern int NetworkReceiveBusy;
extern int NetworkSendBusy;

struct NetworkHandleRecord {
  HandleRecordHeader header;
  int datagram;
  int inUse;
  int ipv6;
  int error;
  int connecting;
  int connected;
  int lossTaken;  // the application has taken the loss
  int reserved;
  int newlyAccepted;
  int framing;  // carries length-prefixed messages
  int autoDelete;
  UINT_PTR socket;
  int incomingLeft;  // bytes of the current message still to come; 0 = header awaited
  RingBuffer receiveBuffer;
  int incomingLength;
  int completeBytes;  // bytes of whole messages in the receive buffer
  RingBuffer sendBuffer;
  int outgoingLeft;  // bytes of the current message still to go (its header value)
  int headerLeft;    // header bytes of the current message still to go (0..4)
  unsigned char peerIPv4[4];
  unsigned short peerIPv6[8];
  int peerPort;  // network byte order
  int readable;  // datagram handles only
  int writable;
  // A read (write) event refused because a receive (send) was running: it
  // is posted again when that call ends, so its bytes are not left behind.
  int readDeferred;
  int writeDeferred;
  // Bytes of the next length header taken so far: a part header is taken
  // out of the socket rather than looked at, so that it raises no new read
  // event until more bytes arrive.
  int headerReceived;
  unsigned char headerBytes[4];
};

// Formats into 1024 bytes and logs "ネットワークログ。text[winsock error]"; -1.
int NetworkLogPrintf(const char* format, ...);

// Runs the socket window's waiting messages under the network lock; with 1
// first deletes failed handles and lost auto-delete handles. Always 0.
int PumpNetworkWindowMessages(int deleteFinished);
// Ends the layer: handles, socket window, winsock; the state zeroed. 0.
int ShutdownNetwork();

// The network lock (handle type 10's), entered only while the type is set
// up; EnterNetworkLock gives 1 when it entered, for LeaveNetworkLock.
int EnterNetworkLock(int line);
void LeaveNetworkLock(int entered);

// The handle's record when it is a network handle without pending loads.
NetworkHandleRecord* GetNetworkRecord(int handle);

// Operations on handles and the socket-event handler.
int AcceptNetWork();
int RecvSocket(int handle);
int SendSocket(int handle);
LRESULT HandleSocketEventMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void WrapRingBufferPositions(RingBuffer* buffer);

// Connections handed to the program, oldest first; -1 when there is none or
// the layer is stopped. GetNewAcceptNetWork: an accepted connection not yet
// handed over. GetLostNetWork: a closed connection whose loss is not yet
// taken; it counts as taken now, so an auto-delete handle is freed by the
// next pump step (the handle value is not to be used after that).
int GetNewAcceptNetWork();
int GetLostNetWork();

// Start-up: winsock 2.2, handle type 10, the socket window. 0, or -1 with
// nothing left started. 0 without change when already started.
int StartNetwork();
// A listening handle on an IPv4 port (address null: every local address,
// else dotted IPv4 text); it becomes the layer's listening handle, whose
// incoming connections arrive as new accepted handles. -1 on failure or
// when a listening handle exists.
int ListenNetwork(int port, const char* address);
// A network handle connecting to a dotted IPv4 address and port; it is
// connected once its connect event reports success. -1 on failure.
int ConnectNetwork(const char* address, int port);

#endif  // NEZETORAK_H
