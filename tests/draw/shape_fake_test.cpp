// The Direct3D shape drawers against the fake device call table: boxes and
// triangles share the 2-D batch (a run of them is one draw), outlines switch
// to line lists, circles are drawn from their own buffer in blocks of 2000
// vertices with each outline point once, rings refuse thin thicknesses,
// ClearDrawTarget clears target and Z over the target's own size, the work
// blocks of circles, rings and vertex lists end with the graphics system,
// and a vertex list with a graphic leaves the caller's vertices as given.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RingReference.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShape.h"
#include "ZiDezaru.h"

using test_support::FakeDirect3D;

namespace {

struct DrawCall {
  D3DPRIMITIVETYPE type;
  UINT count;
  UINT stride;
};
std::vector<DrawCall> Draws;

HRESULT RecordDraw(D3DPRIMITIVETYPE type, UINT count, const void*, UINT stride) {
  Draws.push_back({type, count, stride});
  return D3D_OK;
}

class ShapeFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_DRAW_TEST_FOLDER", "shape_fake")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 1600;
    Screen.height = 1200;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    fake.table.DrawDevicePrimitiveUP = RecordDraw;
    ASSERT_EQ(0, SetClipRect(0, 0, 1600, 1200));
    FlushVertexBatch(0);
    Draws.clear();
    fake.calls.clear();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
};

TEST_F(ShapeFakeTest, BoxesAndTrianglesShareTheBatch) {
  for (int i = 0; i < 100; i++) ASSERT_EQ(0, DrawRectShape(i, i, i + 10, i + 5, 0xFFFFFFFF, 1));
  ASSERT_EQ(0, DrawTriangleShape(0, 0, 50, 0, 0, 50, 0xFFFFFFFF, 1));
  EXPECT_TRUE(Draws.empty());
  FlushVertexBatch(0);
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(D3DPT_TRIANGLELIST, Draws[0].type);
  EXPECT_EQ(201u, Draws[0].count);
  EXPECT_EQ(28u, Draws[0].stride);
  // Outlines: a box is four thin quads; a triangle outline switches to lines.
  Draws.clear();
  ASSERT_EQ(0, DrawRectShape(10, 10, 20, 15, 0xFFFFFFFF, 0));
  ASSERT_EQ(0, DrawTriangleShape(0, 0, 50, 0, 0, 50, 0xFFFFFFFF, 0));
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(8u, Draws[0].count);
  FlushVertexBatch(0);
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(D3DPT_LINELIST, Draws[1].type);
  EXPECT_EQ(3u, Draws[1].count);
}

TEST_F(ShapeFakeTest, CirclesDrawInBlocksOf2000EachPointOnce) {
  ASSERT_EQ(0, DrawCircleShape(800, 600, 590, 0xFFFFFFFF, 0, 1));
  const size_t points = OutlineReference(800, 600, 590, 1600, 1200).size();
  ASSERT_GT(points, 2000u);
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(D3DPT_POINTLIST, Draws[0].type);
  EXPECT_EQ(2000u, Draws[0].count);
  EXPECT_EQ(points - 2000u, Draws[1].count);
  // A disc: one line per scan line.
  Draws.clear();
  ASSERT_EQ(0, DrawCircleShape(800, 600, 300, 0xFFFFFFFF, 1, 1));
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(D3DPT_LINELIST, Draws[0].type);
  EXPECT_EQ(601u, Draws[0].count);
}

TEST_F(ShapeFakeTest, RingsRefuseThicknessesBelowTwo) {
  EXPECT_EQ(-1, DrawRingHW(100, 100, 10, 0xFFFFFFFF, 1, CurrentDrawState.drawArea));
  EXPECT_EQ(-1, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, 0));
  EXPECT_EQ(-1, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, -3));
  EXPECT_TRUE(Draws.empty());
  EXPECT_EQ(0, DrawCircleShape(100, 100, -1, 0xFFFFFFFF, 0, 4));  // a negative radius draws nothing
  EXPECT_EQ(0, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, 2));
  ASSERT_EQ(1u, Draws.size());
}

TEST_F(ShapeFakeTest, ClearFlushesThenClearsTargetAndZOverTheTargetSize) {
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  ASSERT_EQ(0, DrawRectShape(10, 20, 30, 40, 0xFFFFFFFF, 1));
  Screen.background[0] = 0x12, Screen.background[1] = 0x34, Screen.background[2] = 0x56;
  fake.calls.clear();
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(1u, Draws.size());  // the batched box went first
  const std::string calls = fake.Joined();
  const size_t viewport = calls.find("Viewport(0,0,1600,1200)");
  const size_t target = calls.find("Clear(1,00123456)");
  ASSERT_NE(std::string::npos, viewport) << calls;
  ASSERT_NE(std::string::npos, target) << calls;
  EXPECT_LT(viewport, target);
  if (DeviceLayer.depthBuffer != nullptr) {
    EXPECT_NE(std::string::npos, calls.find("Clear(2,", target)) << calls;
  }
  EXPECT_NE(std::string::npos, calls.find("Viewport(10,20,290,180)", target)) << calls;
  Screen.background[0] = Screen.background[1] = Screen.background[2] = 0;
}

// Circles (the disc's row block, the shape vertex buffer), rings (the span
// block) and tinted vertex lists (their work copy) in both modes: nothing
// of them is left once the graphics system has ended.
TEST_F(ShapeFakeTest, WorkBlocksEndWithTheGraphicsSystem) {
  const Vertex2D tri[3] = {
      {1, 1, 0, 1, 0xFFFFFFFFu, 0, 0}, {90, 1, 0, 1, 0xFFFFFFFFu, 0, 0}, {1, 70, 0, 1, 0xFFFFFFFFu, 0, 0}};
  for (int software : {0, 1}) {
    TerminateGraphicsSystem();
    Screen.software = software;
    ASSERT_EQ(0, InitializeGraphicsSystem());  // anything made once per process is made here
    TerminateGraphicsSystem();
    const int before = GetAllocCount();
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(software ? 0 : 1, DeviceLayer.hardware);
    ASSERT_EQ(0, SetClipRect(0, 0, 1600, 1200));
    const int started = GetAllocCount();
    ASSERT_EQ(0, DrawCircleShape(800, 600, 300, 0xFFFFFFFF, 1, 1));
    ASSERT_EQ(0, DrawCircleShape(800, 600, 300, 0xFFFFFFFF, 0, 1));
    ASSERT_EQ(0, DrawCircleShape(800, 600, 300, 0xFFFFFFFF, 0, 6));
    ASSERT_EQ(0, SetDrawTint(128, 128, 128));
    ASSERT_EQ(0, DrawVertexPrimitive2D(tri, 3, D3DPT_TRIANGLELIST, -5, 0));
    FlushVertexBatch(0);
    EXPECT_GT(GetAllocCount(), started) << "software " << software;
    TerminateGraphicsSystem();
    EXPECT_EQ(before, GetAllocCount()) << "software " << software;
  }
  Screen.software = 0;
  ASSERT_EQ(0, InitializeGraphicsSystem());
}

std::vector<Vertex2DTex2> DrawnTexVertices;
HRESULT RecordTexVertices(D3DPRIMITIVETYPE, UINT, const void* data, UINT stride) {
  if (stride == sizeof(Vertex2DTex2)) {
    const Vertex2DTex2* v = static_cast<const Vertex2DTex2*>(data);
    DrawnTexVertices.assign(v, v + 6);
  }
  return D3D_OK;
}

// A graphic of one piece on a texture the fake device takes as it is.
struct OnePieceGraphic {
  int handle = -1;
  GraphImageDescriptor image{};
  int texture = 0;
  OnePieceGraphic() {
    handle = AllocGraphicHandle();
    GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
    if (record == nullptr) return;
    image.refCount = 1;
    image.format.textureBacked = 1;
    image.width = record->width = 64;
    image.height = record->height = 32;
    image.textureCount = 1;
    image.textures[0].texture = reinterpret_cast<IDirect3DTexture9*>(&texture);
    record->image = &image;
    record->pieceCount = 1;
    record->pieces[0].entry = &image.textures[0];
    const float corners[16] = {0, 0, 0, 0, 64, 0, 0.5f, 0, 0, 32, 0, 0.25f, 64, 32, 0.5f, 0.25f};
    memcpy(record->pieces[0].corners, corners, sizeof corners);
  }
  ~OnePieceGraphic() {
    GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
    if (record != nullptr) {
      record->image = nullptr;
      record->pieceCount = 0;
    }
    DeleteGraphicHandle(handle);
  }
};

TEST_F(ShapeFakeTest, VertexListWithAGraphicLeavesTheCallersVertices) {
  OnePieceGraphic piece;
  const int graph = piece.handle;
  ASSERT_NE(nullptr, GetGraphicRecord(graph, 0));
  fake.table.DrawDevicePrimitiveUP = RecordTexVertices;
  Vertex2DTex2 vertices[6];
  for (int i = 0; i < 6; i++) vertices[i] = {10.0f * i, 5.0f * i, 0, 1, 0xFFFFFFFFu, 7.0f, 8.0f, 9.0f, 10.0f};
  Vertex2DTex2 given[6];
  memcpy(given, vertices, sizeof given);
  ASSERT_EQ(0, DrawVertex2DPrimitiveWithGraph(vertices, 6, D3DPT_TRIANGLELIST, graph, 0, 1, 0));
  EXPECT_EQ(0, memcmp(given, vertices, sizeof given));
  // What was drawn has the piece's texture coordinates in quad order.
  ASSERT_EQ(6u, DrawnTexVertices.size());
  const float* k = GetGraphicRecord(graph, 0)->pieces[0].corners;
  EXPECT_EQ(k[2], DrawnTexVertices[0].u1);
  EXPECT_EQ(k[6], DrawnTexVertices[1].u1);
  EXPECT_EQ(k[11], DrawnTexVertices[2].v1);
  EXPECT_EQ(given[3].x, DrawnTexVertices[3].x);
}

}  // namespace
