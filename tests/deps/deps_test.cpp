// The third-party libraries built for the target link and initialise.
#include <png.h>
#include <jpeglib.h>
#include <zlib.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>
#include <theora/theoradec.h>
#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>
#include <string.h>

namespace {

TEST(Deps, PngReadStructCreates) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  ASSERT_NE(png, nullptr);
  png_infop info = png_create_info_struct(png);
  EXPECT_NE(info, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  EXPECT_EQ(png_access_version_number(), static_cast<png_uint_32>(PNG_LIBPNG_VER));
}

TEST(Deps, JpegDecompressCreates) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  SUCCEED();
}

TEST(Deps, ZlibRoundTrip) {
  const char text[] = "zlib zlib zlib zlib zlib zlib";
  unsigned char packed[128];
  uLongf packedSize = sizeof(packed);
  ASSERT_EQ(compress(packed, &packedSize, reinterpret_cast<const Bytef*>(text), sizeof(text)), Z_OK);
  char out[64];
  uLongf outSize = sizeof(out);
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out), &outSize, packed, packedSize), Z_OK);
  EXPECT_EQ(outSize, sizeof(text));
  EXPECT_STREQ(out, text);
}

TEST(Deps, OggVorbisTheoraInitialise) {
  ogg_sync_state sync;
  EXPECT_EQ(ogg_sync_init(&sync), 0);
  ogg_sync_clear(&sync);
  vorbis_info vi;
  vorbis_info_init(&vi);
  vorbis_info_clear(&vi);
  EXPECT_NE(vorbis_version_string(), nullptr);
  th_info ti;
  th_info_init(&ti);
  th_info_clear(&ti);
  EXPECT_NE(th_version_string(), nullptr);
}

TEST(Deps, BulletWorldSteps) {
  btDefaultCollisionConfiguration config;
  btCollisionDispatcher dispatcher(&config);
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world(&dispatcher, &broadphase, &solver, &config);
  world.setGravity(btVector3(0, -10, 0));
  btSphereShape shape(1);
  btDefaultMotionState motion(btTransform(btQuaternion::getIdentity(), btVector3(0, 10, 0)));
  btVector3 inertia(0, 0, 0);
  shape.calculateLocalInertia(1, inertia);
  btRigidBody body(btRigidBody::btRigidBodyConstructionInfo(1, &motion, &shape, inertia));
  world.addRigidBody(&body);
  for (int i = 0; i < 60; ++i) world.stepSimulation(1.0f / 60.0f);
  EXPECT_LT(body.getCenterOfMassPosition().getY(), 10.0f);
  world.removeRigidBody(&body);
}

}  // namespace
