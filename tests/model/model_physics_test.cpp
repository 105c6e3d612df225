// Release of a model's physics objects on real physics-library objects:
// counting subclasses write their destruction into one journal, so the
// order of every deletion can be compared with the expected one.
#include <gtest/gtest.h>

#include <btBulletDynamicsCommon.h>
#include <BulletCollision/CollisionDispatch/btGhostObject.h>

#include <string.h>

#include <string>
#include <vector>

#include "FakeDirect3D.h"
#include "ModelRecords.h"
#include "MoDerov.h"
#include "VuViderezaDevice.h"

namespace {

std::vector<std::string> Journal;

template <typename Base>
struct Counted : Base {
  template <typename... Args>
  Counted(const char* name, Args&&... args) : Base(std::forward<Args>(args)...), name_(name) {}
  ~Counted() override { Journal.push_back(name_); }
  std::string name_;
};

using Shape = Counted<btSphereShape>;
using Motion = Counted<btDefaultMotionState>;
using Body = Counted<btRigidBody>;
using Object = Counted<btCollisionObject>;
using Joint = Counted<btPoint2PointConstraint>;
using Configuration = Counted<btDefaultCollisionConfiguration>;
using Dispatcher = Counted<btCollisionDispatcher>;
using Broadphase = Counted<btDbvtBroadphase>;
using Solver = Counted<btSequentialImpulseConstraintSolver>;
using World = Counted<btDiscreteDynamicsWorld>;
using PairCallback = Counted<btGhostPairCallback>;

void FillBlock(PhysicsWorldBlock* block) {
  block->configuration = new Configuration("configuration");
  block->dispatcher = new Dispatcher("dispatcher", block->configuration);
  block->broadphase = new Broadphase("broadphase");
  block->solver = new Solver("solver");
  block->world = new World("world", block->dispatcher, block->broadphase, block->solver, block->configuration);
  block->pairCallback = new PairCallback("pairs");
}

btRigidBody* AddBody(btDynamicsWorld* world, const char* name, btCollisionShape* shape, bool withMotion) {
  btMotionState* motion = withMotion ? new Motion((std::string(name) + ".motion").c_str()) : nullptr;
  btRigidBody* body = new Body(name, btRigidBody::btRigidBodyConstructionInfo(1, motion, shape, btVector3(1, 1, 1)));
  world->addRigidBody(body);
  return body;
}

class ModelPhysicsTest : public ::testing::Test {
 protected:
  test_support::FakeDirect3D fake;
  void SetUp() override {
    Journal.clear();
    DeviceLayer.hardware = 1;
    ASSERT_EQ(0, SetupModelHandleTypes());
  }
  void TearDown() override { ShutdownModelHandleTypes(); }
};

TEST_F(ModelPhysicsTest, ConstraintsThenBodiesFromTheLastThenTheWorldBlockFromItsEnd) {
  test_support::BaseSpec spec;
  spec.rigidBodies = 2;
  spec.joints = 3;
  const int base = test_support::MakeModelBase(spec);
  const int copy = test_support::MakeModel(base);
  ModelRecord* model = GetModelRecord(copy, 0);
  FillBlock(&model->physics);
  btDynamicsWorld* world = model->physics.world;
  for (int i = 0; i < 2; i++) model->rigidBodies[i].shape = new Shape(i == 0 ? "shape0" : "shape1", 1.0f);
  btRigidBody* a = AddBody(world, "body0", model->rigidBodies[0].shape, true);
  btRigidBody* b = AddBody(world, "body1", model->rigidBodies[1].shape, true);
  model->rigidBodies[0].body = a;
  model->rigidBodies[0].motionState = a->getMotionState();
  model->rigidBodies[1].body = b;
  model->rigidBodies[1].motionState = b->getMotionState();
  const char* names[] = {"joint0", "joint1", "joint2"};
  for (int i = 0; i < 3; i++) {
    btTypedConstraint* joint = new Joint(names[i], *a, *b, btVector3(0, i, 0), btVector3(0, 0, i));
    world->addConstraint(joint);
    model->joints[i].constraint = joint;
  }

  ASSERT_EQ(0, DeleteHandle(copy));
  const std::vector<std::string> expected = {
      "shape0",       "shape1",                           // the entries' own shapes first
      "joint2",       "joint1", "joint0",                 // constraints, last to first
      "body1.motion", "body1",  "body0.motion", "body0",  // bodies, last to first
      "pairs",        "world",  "solver",       "broadphase", "dispatcher", "configuration"};
  EXPECT_EQ(expected, Journal);
  DeleteHandle(base);
}

TEST_F(ModelPhysicsTest, EntriesAreClearedAndASecondReleaseDeletesNothing) {
  test_support::BaseSpec spec;
  spec.rigidBodies = 1;
  const int base = test_support::MakeModelBase(spec);
  const int copy = test_support::MakeModel(base);
  ModelRecord* model = GetModelRecord(copy, 0);
  FillBlock(&model->physics);
  model->rigidBodies[0].shape = new Shape("shape0", 1.0f);
  // A body without a motion state and a plain collision object.
  btRigidBody* body = AddBody(model->physics.world, "body0", model->rigidBodies[0].shape, false);
  model->rigidBodies[0].body = body;
  btCollisionObject* plain = new Object("plain");
  plain->setCollisionShape(model->rigidBodies[0].shape);
  model->physics.world->addCollisionObject(plain);

  EXPECT_EQ(0, TerminateModelInstancePhysics(model));
  const std::vector<std::string> expected = {"shape0", "plain",      "body0",      "pairs",        "world",
                                             "solver", "broadphase", "dispatcher", "configuration"};
  EXPECT_EQ(expected, Journal);
  EXPECT_EQ(nullptr, model->rigidBodies[0].shape);
  EXPECT_EQ(nullptr, model->rigidBodies[0].body);
  EXPECT_EQ(nullptr, model->rigidBodies[0].motionState);
  const PhysicsWorldBlock empty = {};
  EXPECT_EQ(0, memcmp(&empty, &model->physics, sizeof empty));

  Journal.clear();
  EXPECT_EQ(0, TerminateModelInstancePhysics(model));
  EXPECT_EQ(-1, DeletePhysicsWorld(&model->physics));
  EXPECT_TRUE(Journal.empty());
  ASSERT_EQ(0, DeleteHandle(copy)) << "the delete callback runs the release a third time";
  EXPECT_TRUE(Journal.empty());
  DeleteHandle(base);
}

TEST_F(ModelPhysicsTest, ABlockWithoutAWorldStillGivesBackItsOtherObjects) {
  PhysicsWorldBlock block = {};
  FillBlock(&block);
  delete block.world;  // a world that was never made
  block.world = nullptr;
  delete block.broadphase;
  block.broadphase = nullptr;
  Journal.clear();
  ModelRigidBodyEntry entry = {new Shape("shape", 1.0f), nullptr, 0, 0, nullptr};
  EXPECT_EQ(0, ReleaseModelRigidBodyPhysics(&entry));
  EXPECT_EQ(-1, DeletePhysicsWorld(&block));
  const std::vector<std::string> expected = {"shape", "pairs", "solver", "dispatcher", "configuration"};
  EXPECT_EQ(expected, Journal);
  const PhysicsWorldBlock empty = {};
  EXPECT_EQ(0, memcmp(&empty, &block, sizeof empty));
}

TEST_F(ModelPhysicsTest, ACopyOfABaseWithoutRigidBodiesNeverReachesThePhysics) {
  test_support::BaseSpec spec;
  spec.joints = 1;
  const int base = test_support::MakeModelBase(spec);
  const int copy = test_support::MakeModel(base);
  ModelRecord* model = GetModelRecord(copy, 0);
  PhysicsWorldBlock block = {};
  FillBlock(&block);
  model->physics = block;
  model->joints[0].constraint = reinterpret_cast<btTypedConstraint*>(&block);  // would be cleared
  ASSERT_EQ(0, DeleteHandle(copy));
  EXPECT_TRUE(Journal.empty());
  DeletePhysicsWorld(&block);
  EXPECT_EQ(6u, Journal.size());
  DeleteHandle(base);
}

}  // namespace
