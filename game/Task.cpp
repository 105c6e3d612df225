#include "Task.h"

CPlayerMessenger* PlayerMessengerPtr = nullptr;
CBulletMessenger* BulletMessengerPtr = nullptr;
CItemMessenger* ItemMessengerPtr = nullptr;

CBaseChar::CBaseChar()
    : X(0), Y(0), Dead(false), Prev(nullptr), Next(nullptr), FrameCount(0), InvincibleFrames(0), NoHit(false) {
  for (int& w : Work) w = 0;
  for (int& g : Graph) g = -1;
}

void CBaseChar::GetPositionPx(int* x, int* y) const {
  if (x == nullptr || y == nullptr) return;
  *x = X / 1000;
  *y = Y / 1000;
}

CBaseCharCtl::CBaseCharCtl(CScreenMessenger* screen) : Screen(screen), Head(nullptr), Tail(nullptr) {}

void CBaseCharCtl::Update() {
  CBaseChar* object = Head;
  while (object != nullptr) {
    if (object->Dead) {
      CBaseChar* next = object->Next;
      Unlink(object);
      delete object;
      object = next;
    } else {
      object->Update();
      object = object->Next;
    }
  }
}

void CBaseCharCtl::Draw() {
  for (CBaseChar* object = Head; object != nullptr; object = object->Next) object->Draw();
}

void CBaseCharCtl::Append(CBaseChar* object) {
  object->Next = nullptr;
  object->Prev = Tail;
  if (Tail != nullptr) Tail->Next = object;
  else Head = object;
  Tail = object;
}

void CBaseCharCtl::Unlink(CBaseChar* object) {
  if (object->Prev != nullptr) object->Prev->Next = object->Next;
  else Head = object->Next;
  if (object->Next != nullptr) object->Next->Prev = object->Prev;
  else Tail = object->Prev;
}

void CBaseCharCtl::Destroy() {
  CBaseChar* object = Head;
  while (object != nullptr) {
    CBaseChar* next = object->Next;
    delete object;
    object = next;
  }
  Head = nullptr;
  Tail = nullptr;
}
