// Release of a model copy's physics objects: the entries' collision shapes,
// then the world's constraints and collision objects (with their motion
// states) from the highest index down, then the world and its companion
// objects, each through its virtual destructor.
// Threads: the thread deleting the model, inside the model type's delete
// callback (its lock held). Platform: none (the physics library's objects).
#include <btBulletDynamicsCommon.h>

#include "MoDerov.h"

namespace {

template <typename T>
void DeleteAndClear(T*& object) {
  delete object;
  object = nullptr;
}

// The block's objects other than the world, last field first.
void DeleteCompanions(PhysicsWorldBlock* block) {
  DeleteAndClear(block->pairCallback);
  DeleteAndClear(block->solver);
  DeleteAndClear(block->broadphase);
  DeleteAndClear(block->dispatcher);
  DeleteAndClear(block->configuration);
}

}  // namespace

int TerminateModelInstancePhysics(ModelRecord* model) {
  const ModelBaseRecord* base = model->base;
  if (base != nullptr) {
    for (int i = 0; model->rigidBodies != nullptr && i < base->rigidBodyCount; i++)
      ReleaseModelRigidBodyPhysics(&model->rigidBodies[i]);
    for (int i = 0; model->joints != nullptr && i < base->jointCount; i++) ReleaseModelJointPhysics(&model->joints[i]);
  }
  DeletePhysicsWorld(&model->physics);
  return 0;
}

int ReleaseModelRigidBodyPhysics(ModelRigidBodyEntry* entry) {
  DeleteAndClear(entry->shape);
  entry->body = nullptr;
  entry->motionState = nullptr;
  return 0;
}

void ReleaseModelJointPhysics(ModelJointEntry* entry) { entry->constraint = nullptr; }

int DeletePhysicsWorld(PhysicsWorldBlock* block) {
  if (block->world == nullptr) {
    // Nothing holds the companions any more: they go all the same.
    DeleteCompanions(block);
    return -1;
  }
  btDynamicsWorld* world = block->world;
  for (int i = world->getNumConstraints() - 1; i >= 0; i--) {
    btTypedConstraint* constraint = world->getConstraint(i);
    world->removeConstraint(constraint);
    delete constraint;
  }
  const int count = world->getNumCollisionObjects();
  for (int i = count - 1; i >= 0; i--) {
    btCollisionObject* object = world->getCollisionObjectArray()[i];
    btRigidBody* body = btRigidBody::upcast(object);
    if (body != nullptr && body->getMotionState() != nullptr) delete body->getMotionState();
    world->removeCollisionObject(object);
    delete object;
  }
  DeleteAndClear(block->pairCallback);
  DeleteAndClear(block->world);
  DeleteAndClear(block->solver);
  DeleteAndClear(block->broadphase);
  DeleteAndClear(block->dispatcher);
  DeleteAndClear(block->configuration);
  return 0;
}
