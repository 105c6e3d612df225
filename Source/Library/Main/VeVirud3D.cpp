// 3-D sound: the listener, the emitters of 3-D play buffers and the
// DirectSound computation of a 3-D volume and pan from distance, cone and
// the listener's side direction; the result goes through the buffer's
// volume and pan application.
// Threads: main thread or a loading job, under the callers' sound lock.
// Platform: none directly (the buffer layer calls DirectSound).
#include <math.h>
#include <string.h>

#include "VeVirud.h"

namespace {

const float MOVE_THRESHOLD = 0.001f;
const float PAN_LIMIT = 0.8f;
const float FULL_CONE = 6.2831853f;
const float DEFAULT_RADIUS = 14.0f;

bool Moved(const Vector3& a, const Vector3& b) {
  return fabsf(a.x - b.x) >= MOVE_THRESHOLD || fabsf(a.y - b.y) >= MOVE_THRESHOLD ||
         fabsf(a.z - b.z) >= MOVE_THRESHOLD;
}

int Recompute(SoundBufferRecord* b) {
  b->emitter.dirty = 1;
  return b->playing ? UpdatePlayBuffer3D(b) : 0;
}

}  // namespace

void ResetSound3DListener(Sound3DListener* l) {
  memset(l, 0, sizeof(*l));
  l->front = Vector3{0.0f, 0.0f, 1.0f};
  l->up = Vector3{0.0f, 1.0f, 0.0f};
  l->side = Vector3{1.0f, 0.0f, 0.0f};
  l->innerAngle = FULL_CONE;
  l->outerAngle = FULL_CONE;
  l->innerVolume = 1.0f;
  l->outerVolume = 1.0f;
}

int SetSound3DListener(const Vector3* position, const Vector3* front, const Vector3* up) {
  Sound3DListener* l = &SoundSystem.listener;
  Vector3 f = NormalizeVectorGuarded(front->x, front->y, front->z);
  Vector3 u = NormalizeVectorGuarded(up->x, up->y, up->z);
  Vector3 side;
  VectorCross(&side, &u, &f);
  float length = VectorLengthGuarded(side.x, side.y, side.z);
  if (length == 0.0f) return -1;  // front and up parallel
  l->position = *position;
  l->front = f;
  l->up = u;
  l->side = Vector3{side.x / length, side.y / length, side.z / length};
  return 0;
}

int SetSound3DListenerCone(float innerAngle, float outerAngle, float innerVolume, float outerVolume) {
  if (innerAngle < 0.0f || outerAngle < innerAngle) return -1;
  Sound3DListener* l = &SoundSystem.listener;
  l->innerAngle = innerAngle;
  l->outerAngle = outerAngle;
  l->innerVolume = innerVolume;
  l->outerVolume = outerVolume;
  return 0;
}

void ComputeSound3DVolumePan(const Sound3DListener* l, const Vector3* position, float radius, float* volume,
                             float* pan) {
  Vector3 d;
  VectorSub(&d, position, &l->position);
  float distance = VectorLengthGuarded(d.x, d.y, d.z);
  float distanceVolume = radius > 0.0f && distance <= radius ? 1.0f - distance / radius : 0.0f;
  // A source on the listener counts as straight ahead.
  Vector3 direction = distance > 0.0f ? Vector3{d.x / distance, d.y / distance, d.z / distance} : l->front;
  float cosine = VectorDot(&l->front, &direction);
  cosine = cosine > 1.0f ? 1.0f : (cosine < -1.0f ? -1.0f : cosine);
  float angle = 2.0f * acosf(cosine);
  float cone;
  if (angle < l->innerAngle) {
    cone = l->innerVolume;
  } else if (angle > l->outerAngle || l->outerAngle <= l->innerAngle) {
    cone = l->outerVolume;
  } else {
    cone = l->innerVolume + (l->outerVolume - l->innerVolume) * (angle - l->innerAngle) /
                                (l->outerAngle - l->innerAngle);
  }
  *volume = distanceVolume * cone;
  float p = distance > 0.0f ? VectorDot(&l->side, &direction) : 0.0f;
  *pan = p > PAN_LIMIT ? PAN_LIMIT : (p < -PAN_LIMIT ? -PAN_LIMIT : p);
}

void InitPlayBuffer3D(SoundBufferRecord* b, const SoundBufferRecord* source) {
  if (source != nullptr) {
    b->emitter = source->emitter;
  } else {
    memset(&b->emitter, 0, sizeof(b->emitter));
    b->emitter.is3D = 1;
    b->emitter.radius = DEFAULT_RADIUS;
    b->emitter.volume = 1.0f;
  }
  b->emitter.dirty = 1;
}

int SetPlayBuffer3DPosition(SoundBufferRecord* b, const Vector3* position) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (!Moved(b->emitter.position, *position)) return 0;
  b->emitter.position = *position;
  return Recompute(b);
}

int SetPlayBuffer3DVelocity(SoundBufferRecord* b, const Vector3* velocity) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (!Moved(b->emitter.velocity, *velocity)) return 0;
  b->emitter.velocity = *velocity;
  return Recompute(b);
}

int SetPlayBuffer3DRadius(SoundBufferRecord* b, float radius) {
  if (!b->present || !b->emitter.is3D) return -1;
  if (fabsf(b->emitter.radius - radius) < MOVE_THRESHOLD) return 0;
  b->emitter.radius = radius;
  return Recompute(b);
}

int UpdatePlayBuffer3D(SoundBufferRecord* b) {
  if (!b->present || !b->emitter.is3D || !b->emitter.dirty) return 0;
  ComputeSound3DVolumePan(&SoundSystem.listener, &b->emitter.position, b->emitter.radius, &b->emitter.volume,
                          &b->emitter.pan);
  b->emitter.dirty = 0;
  // The volume and pan application folds the 3-D values in.
  return SetPlayBufferPan(b, b->pan);
}
