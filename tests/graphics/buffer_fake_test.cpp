// Vertex and index buffer handles against the fake device call table: the
// device buffers are byte arrays kept here, so writes, bounds, lock
// failures and the release / re-creation around a rebuild can be checked
// byte for byte against the system copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraphics.h"
#include "ZiDezaru.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

// Device buffers of the fake: contents by object, and what was asked for.
std::map<void*, std::vector<uint8_t>> Buffers;
std::vector<D3DFORMAT> IndexFormats;
std::vector<DWORD> VertexFvfs;
HRESULT LockResult = D3D_OK;
HRESULT CreateResult = D3D_OK;
uint8_t Objects[64];
int NextObject = 0;

void* NewObject(UINT length) {
  void* object = &Objects[NextObject++ % 64];
  Buffers[object].assign(length, 0xEE);  // device memory starts as garbage
  return object;
}

class BufferFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_BUFFER_TEST_FOLDER", "buffer")};
  void SetUp() override {
    Buffers.clear();
    IndexFormats.clear();
    VertexFvfs.clear();
    LockResult = D3D_OK;
    CreateResult = D3D_OK;
    fake.table.CreateDeviceVertexBuffer = [](UINT length, DWORD, DWORD fvf, D3DPOOL, IDirect3DVertexBuffer9** b,
                                             HANDLE*) -> HRESULT {
      if (CreateResult != D3D_OK) return CreateResult;
      VertexFvfs.push_back(fvf);
      *b = static_cast<IDirect3DVertexBuffer9*>(NewObject(length));
      return D3D_OK;
    };
    fake.table.CreateDeviceIndexBuffer = [](UINT length, DWORD, D3DFORMAT format, D3DPOOL, IDirect3DIndexBuffer9** b,
                                            HANDLE*) -> HRESULT {
      if (CreateResult != D3D_OK) return CreateResult;
      IndexFormats.push_back(format);
      *b = static_cast<IDirect3DIndexBuffer9*>(NewObject(length));
      return D3D_OK;
    };
    fake.table.LockBuffer = [](IDirect3DResource9* b, UINT offset, UINT size, void** data, DWORD) -> HRESULT {
      if (LockResult != D3D_OK) return LockResult;
      std::vector<uint8_t>& bytes = Buffers.at(b);
      if (offset + size > bytes.size()) return D3DERR_INVALIDCALL;
      *data = bytes.data() + offset;
      return D3D_OK;
    };
    fake.table.UnlockBuffer = [](IDirect3DResource9*) -> HRESULT { return D3D_OK; };
    fake.table.ReleaseComObject = [](IUnknown* object) -> ULONG {
      Buffers.erase(object);
      return 0;
    };
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
  static BufferHandleRecord* Record(int handle) {
    return reinterpret_cast<BufferHandleRecord*>(GetHandleRecord(handle));
  }
  static std::vector<uint8_t> SystemCopy(int handle) {
    BufferHandleRecord* r = Record(handle);
    const uint8_t* p = static_cast<const uint8_t*>(r->systemCopy);
    return std::vector<uint8_t>(p, p + r->elementSize * r->elementCount);
  }
  static std::vector<uint8_t> DeviceCopy(int handle) { return Buffers.at(Record(handle)->buffer); }
};

std::vector<uint8_t> Pattern(size_t size, int seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

TEST_F(BufferFakeTest, CreatorsMakeZeroedBuffersOfTheAskedFormat) {
  const int vb = CreateVertexBufferHandle(24, 100);
  const int ib16 = CreateIndexBufferHandle(30, INDEX_TYPE_16BIT);
  const int ib32 = CreateIndexBufferHandle(30, INDEX_TYPE_32BIT);
  ASSERT_NE(-1, vb);
  ASSERT_NE(-1, ib16);
  ASSERT_NE(-1, ib32);
  EXPECT_EQ(HANDLETYPE_VERTEX_BUFFER, HANDLE_TYPE_OF(vb));
  EXPECT_EQ(HANDLETYPE_INDEX_BUFFER, HANDLE_TYPE_OF(ib16));
  EXPECT_EQ(100, GetBufferHandleElementCount(vb));
  EXPECT_EQ(std::vector<uint8_t>(2400, 0), DeviceCopy(vb)) << "the zeroed copy is uploaded";
  EXPECT_EQ(60u, DeviceCopy(ib16).size());
  EXPECT_EQ(120u, DeviceCopy(ib32).size());
  EXPECT_EQ(std::vector<DWORD>{0x2D2}, VertexFvfs);
  EXPECT_EQ((std::vector<D3DFORMAT>{D3DFMT_INDEX16, D3DFMT_INDEX32}), IndexFormats);
  EXPECT_EQ(nullptr, GetIndexBufferObject(vb)) << "a vertex handle is no index buffer";
  EXPECT_EQ(-1, DeleteIndexBufferHandle(vb));
  EXPECT_EQ(0, DeleteVertexBufferHandle(vb));
  EXPECT_EQ(nullptr, GetHandleRecord(vb));
  EXPECT_EQ(2u, Buffers.size()) << "deleting released the device buffer";
}

TEST_F(BufferFakeTest, BadSizesAreRefusedWithALogLine) {
  struct Case {
    int size, count;
  } cases[] = {{0, 10}, {24, 0}, {-4, 10}, {24, -1}, {0x10000, 0x10000}};
  for (const Case& c : cases) {
    EXPECT_EQ(-1, CreateVertexBufferHandle(c.size, c.count)) << c.size << " x " << c.count;
  }
  EXPECT_EQ(-1, CreateIndexBufferHandle(0, INDEX_TYPE_16BIT));
  EXPECT_TRUE(log_.Has("バッファのサイズが不正です"));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_VERTEX_BUFFER].count);
  EXPECT_TRUE(Buffers.empty());
}

TEST_F(BufferFakeTest, WritesOutsideTheBufferChangeNothing) {
  const int vb = CreateVertexBufferHandle(4, 100);
  const std::vector<uint8_t> data = Pattern(4 * 100, 3);
  ASSERT_EQ(0, SetVertexBufferData(0, data.data(), 100, vb));
  const std::vector<uint8_t> more = Pattern(4 * 10, 99);
  struct Case {
    int start, count;
  } cases[] = {{95, 10}, {100, 1}, {-1, 2}, {0, 101}, {50, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(-1, SetVertexBufferData(c.start, more.data(), c.count, vb)) << c.start << "+" << c.count;
  }
  EXPECT_EQ(data, SystemCopy(vb));
  EXPECT_EQ(data, DeviceCopy(vb));
  EXPECT_EQ(-1, SetIndexBufferData(0, more.data(), 1, vb)) << "wrong type";
  EXPECT_EQ(-1, SetVertexBufferData(0, more.data(), 1, vb + 1)) << "wrong check value";
  EXPECT_EQ(0, SetVertexBufferData(90, more.data(), 10, vb)) << "the last ten fit";
}

TEST_F(BufferFakeTest, AWriteLandsInBothCopiesAtItsOffset) {
  const int ib = CreateIndexBufferHandle(50, INDEX_TYPE_32BIT);
  const std::vector<uint8_t> data = Pattern(4 * 5, 1);
  ASSERT_EQ(0, SetIndexBufferData(10, data.data(), 5, ib));
  std::vector<uint8_t> expected(200, 0);
  std::copy(data.begin(), data.end(), expected.begin() + 40);
  EXPECT_EQ(expected, SystemCopy(ib));
  EXPECT_EQ(expected, DeviceCopy(ib));
}

TEST_F(BufferFakeTest, AFailedLockLogsAndLeavesTheSystemCopy) {
  const int vb = CreateVertexBufferHandle(8, 10);
  const int ib = CreateIndexBufferHandle(10, INDEX_TYPE_16BIT);
  LockResult = D3DERR_INVALIDCALL;
  const std::vector<uint8_t> data = Pattern(80, 5);
  EXPECT_EQ(-1, SetVertexBufferData(0, data.data(), 10, vb));
  EXPECT_EQ(-1, SetIndexBufferData(0, data.data(), 10, ib));
  EXPECT_TRUE(log_.Has("頂点バッファのロックに失敗しました"));
  EXPECT_TRUE(log_.Has("インデックスバッファのロックに失敗しました"));
  EXPECT_EQ(std::vector<uint8_t>(80, 0), SystemCopy(vb));
}

TEST_F(BufferFakeTest, WritesWithoutADeviceBufferAreUploadedByTheRecreation) {
  const int vb = CreateVertexBufferHandle(12, 20);
  const int ib = CreateIndexBufferHandle(20, INDEX_TYPE_16BIT);
  const std::vector<uint8_t> before = Pattern(240, 2);
  ASSERT_EQ(0, SetVertexBufferData(0, before.data(), 20, vb));
  ASSERT_EQ(0, ReleaseAllBufferObjects());
  EXPECT_EQ(nullptr, Record(vb)->buffer);
  EXPECT_TRUE(Buffers.empty());
  // Lost device: the system copy still takes the write.
  const std::vector<uint8_t> lost = Pattern(36, 77);
  ASSERT_EQ(0, SetVertexBufferData(5, lost.data(), 3, vb));
  ASSERT_EQ(0, SetIndexBufferData(0, lost.data(), 18, ib));
  std::vector<uint8_t> expected = before;
  std::copy(lost.begin(), lost.end(), expected.begin() + 60);
  ASSERT_EQ(0, RecreateAllBufferObjects());
  EXPECT_EQ(expected, DeviceCopy(vb));
  EXPECT_EQ(expected, SystemCopy(vb));
  EXPECT_EQ(SystemCopy(ib), DeviceCopy(ib));
  EXPECT_EQ(0, memcmp(SystemCopy(ib).data(), lost.data(), 36));
}

TEST_F(BufferFakeTest, AFailedRecreationLogsAndLeavesTheRecordWithoutABuffer) {
  const int vb = CreateVertexBufferHandle(12, 20);
  const int ib = CreateIndexBufferHandle(20, INDEX_TYPE_16BIT);
  ReleaseAllBufferObjects();
  CreateResult = D3DERR_OUTOFVIDEOMEMORY;
  ASSERT_EQ(0, RecreateAllBufferObjects());
  EXPECT_TRUE(log_.Has("頂点バッファの作成に失敗しました"));
  EXPECT_TRUE(log_.Has("インデックスバッファの作成に失敗しました"));
  EXPECT_EQ(nullptr, Record(vb)->buffer);
  EXPECT_EQ(nullptr, Record(ib)->buffer);
  const uint16_t index = 7;
  EXPECT_EQ(0, SetIndexBufferData(3, &index, 1, ib)) << "the system copy still works";
  CreateResult = D3D_OK;
  ASSERT_EQ(0, RecreateAllBufferObjects());
  EXPECT_EQ(7, reinterpret_cast<const uint16_t*>(DeviceCopy(ib).data())[3]);
}

TEST_F(BufferFakeTest, WithoutShadersOrHardwareVertexProcessingNoDeviceBufferIsMade) {
  TerminateGraphicsSystem();
  fake.vertexShaderVersion = D3DVS_VERSION(1, 1);
  ASSERT_EQ(0, InitializeGraphicsSystem());
  DeviceLayer.hardwareVertexProcessing = 0;
  const int vb = CreateVertexBufferHandle(12, 20);
  ASSERT_NE(-1, vb);
  EXPECT_EQ(nullptr, GetVertexBufferObject(vb));
  const std::vector<uint8_t> data = Pattern(24, 4);
  EXPECT_EQ(0, SetVertexBufferData(1, data.data(), 2, vb));
  EXPECT_EQ(0, RecreateAllBufferObjects());
  EXPECT_TRUE(Buffers.empty());
}

TEST_F(BufferFakeTest, CreateWriteRecreateAndDeleteCyclesLeaveNoBlockOrObject) {
  const int blocks = GetAllocCount();
  const std::vector<uint8_t> data = Pattern(48 * 10, 6);
  for (int cycle = 0; cycle < 100; cycle++) {
    const int vb = CreateVertexBufferHandle(48, 10);
    const int ib = CreateIndexBufferHandle(10, cycle % 2);
    ASSERT_EQ(0, SetVertexBufferData(0, data.data(), 10, vb));
    ReleaseAllBufferObjects();
    RecreateAllBufferObjects();
    ASSERT_EQ(0, DeleteVertexBufferHandle(vb));
    ASSERT_EQ(0, DeleteIndexBufferHandle(ib));
  }
  EXPECT_EQ(blocks, GetAllocCount());
  EXPECT_TRUE(Buffers.empty()) << "every device buffer released";
}

}  // namespace
