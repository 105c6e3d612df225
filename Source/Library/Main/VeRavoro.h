// Handle manager: one manager per handle type owns the type's resource
// records, hands out slots and check values, validates handle values and
// runs the type's create and delete callbacks.
#ifndef VERAVORO_H
#define VERAVORO_H

#include "ZeZezuDozThread.h"
#include "RiDov.h"

// Handle value: bit 31 always 0, type in bits 26-30, check value in bits
// 16-25, slot index in bits 0-15.
enum {
  HANDLE_TYPE_SHIFT = 26,
  HANDLE_CHECK_SHIFT = 16,
  HANDLE_TYPE_MASK = 0x7C000000,
  HANDLE_CHECK_MASK = 0x03FF0000,
  HANDLE_INDEX_MASK = 0x0000FFFF,
  HANDLE_CHECK_LIMIT = 1023,  // check values run 0..1022
  HANDLE_TYPE_COUNT = 32,
  HANDLE_MAX_SLOTS = 0x10000,  // slot indices fit in 16 bits
};

// Handle type numbers.
enum {
  HANDLETYPE_GRAPH = 1,
  HANDLETYPE_SOFTIMAGE = 2,
  HANDLETYPE_SOUND = 3,
  HANDLETYPE_SOFTSOUND = 4,
  HANDLETYPE_MUSIC = 5,
  HANDLETYPE_MOVIE = 6,
  HANDLETYPE_MASK = 7,
  HANDLETYPE_FONT = 8,
  HANDLETYPE_KEYINPUT = 9,  // own table, same bit layout
  HANDLETYPE_NETWORK = 10,  // registered by StartNetwork
  HANDLETYPE_LIGHT = 11,    // own table, same bit layout
  HANDLETYPE_SHADER = 12,
  HANDLETYPE_MODELBASE = 13,
  HANDLETYPE_MODEL = 14,
  HANDLETYPE_VERTEX_BUFFER = 15,
  HANDLETYPE_INDEX_BUFFER = 16,
  HANDLETYPE_FILE = 17,
  HANDLETYPE_SHADOWMAP = 18,
};

#define HANDLE_TYPE_OF(handle) \
  static_cast<int>((static_cast<unsigned int>(handle) & HANDLE_TYPE_MASK) >> HANDLE_TYPE_SHIFT)
#define HANDLE_INDEX_OF(handle) static_cast<int>((handle)&HANDLE_INDEX_MASK)
#define HANDLE_CHECK_OF(handle) static_cast<int>(((handle)&HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT)

// Doubly linked list of two sentinels (data -1, owner null); nodes go in at
// the front, just after the head.
struct HandleListNode {
  int data;
  void* owner;
  HandleListNode* prev;
  HandleListNode* next;
};

// Common head of every resource record; the owning type's fields follow.
struct HandleRecordHeader {
  int checkValue;  // the handle's bits 16-25
  int handle;      // the full value
  unsigned int recordSize;
  int* deleteFlag;          // set to -1 when the handle is deleted
  int asyncLoadCount;       // loading jobs still working on the record
  int asyncJobIndex;        // queue slot of the last job queued for it
  HandleListNode listNode;  // data = handle, owner = record
};

typedef int (*HandleRecordCallback)(HandleRecordHeader* record);

enum { HANDLE_NAME_SIZE = 64 };

struct HandleManager {
  int initialized;
  HandleRecordHeader** slots;  // maxCount entries, null = free
  HandleListNode listHead;
  HandleListNode listTail;
  int typeTag;  // type << 26
  int recordSize;
  int maxCount;
  int count;
  int lowestSlot;
  int highestSlot;
  int checkCounter;  // survives InitHandleType and TermHandleType
  LockRecord lock;
  HandleRecordCallback createCallback;
  HandleRecordCallback deleteCallback;  // 1 keeps the record
  char displayName[HANDLE_NAME_SIZE];
};

extern HandleManager HandleManagers[HANDLE_TYPE_COUNT];

int InitHandleType(int type, int recordSize, int maxCount, HandleRecordCallback createCallback,
                   HandleRecordCallback deleteCallback, const char* displayName);
int TermHandleType(int type);

// wantedHandle: -1, or an earlier handle of this type whose slot should be
// reused; its check value is kept even when another slot must be taken.
int CreateHandle(int type, int wantedHandle);
// keepFilter: null, or returns non-zero for records to keep.
int DeleteAllHandlesOfType(int type, HandleRecordCallback keepFilter);

// Lookups take no lock. Null when the handle is not valid.
HandleRecordHeader* GetHandleRecord(int handle);
HandleRecordHeader* GetHandleRecordOfType(int handle, int type);

int IsHandleASyncLoading(int handle);
int AddHandleAsyncCount(int handle, int jobIndex);
int SubHandleAsyncCount(int handle);
int SetHandleDeleteFlagPtr(int handle, int* flag);
int ResizeHandleRecord(int handle, int newSize);

int HandleListInit(HandleListNode* head, HandleListNode* tail);
int HandleListAddFront(HandleListNode* head, HandleListNode* node, int data, void* owner);
int HandleListRemove(HandleListNode* node);

int ReturnZero(HandleRecordHeader* record);

// Asynchronous loading hands the manager its job removal (job index, refuse
// running flag -> 0 removed, -1 no such job, -2 running) and its main-thread
// request service, which a deletion runs while it waits for a running job.
// Until they are set no job can exist and pending counts are not waited on.
typedef int (*HandleASyncRemoveJobFunction)(int jobIndex, int handle, int refuseRunning);
typedef int (*HandleASyncServeFunction)();
int SetHandleASyncJobFunctions(HandleASyncRemoveJobFunction removeJob, HandleASyncServeFunction serveMainThread);

#endif  // VERAVORO_H
