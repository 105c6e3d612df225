// Soft-image handles: registration of handle type 2, its end, and that
// deleting every soft image gives all of their memory back.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <string>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VeRavoro.h"
#include "VuViderezaSoftImage.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;

class SoftImageHandles : public ::testing::Test {
 protected:
  void TearDown() override {
    if (SoftImageHandlesSetUp) ShutdownSoftImageHandles();
  }
};

TEST_F(SoftImageHandles, SetUpOnceAndShutDownOnce) {
  EXPECT_EQ(-1, ShutdownSoftImageHandles());
  ASSERT_EQ(0, SetupSoftImageHandles());
  const HandleManager& manager = HandleManagers[HANDLETYPE_SOFTIMAGE];
  EXPECT_EQ(1, manager.initialized);
  EXPECT_EQ(8192, manager.maxCount);
  EXPECT_EQ(static_cast<int>(sizeof(SoftImageRecord)), manager.recordSize);
  EXPECT_STREQ("ソフトイメージ", manager.displayName);
  EXPECT_EQ(&ReleaseSoftImageHandleRecord, manager.deleteCallback);
  EXPECT_EQ(&ReturnZero, manager.createCallback);

  // A second set-up is refused and keeps the first registration.
  const int handle = MakeSoftImage(4, 4, 1);
  ASSERT_NE(-1, handle);
  EXPECT_EQ(-1, SetupSoftImageHandles());
  EXPECT_NE(nullptr, GetSoftImageBaseImage(handle));
  EXPECT_EQ(1, HandleManagers[HANDLETYPE_SOFTIMAGE].count);

  EXPECT_EQ(0, ShutdownSoftImageHandles());
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SOFTIMAGE].initialized);
  EXPECT_EQ(nullptr, GetSoftImageBaseImage(handle));
  EXPECT_EQ(-1, ShutdownSoftImageHandles());
  EXPECT_EQ(-1, MakeSoftImage(4, 4, 1));
  EXPECT_EQ(-1, DeleteAllSoftImages());
}

TEST_F(SoftImageHandles, SoftImagesHoldBaseImagesOfTheirSize) {
  ASSERT_EQ(0, SetupSoftImageHandles());
  const int withAlpha = MakeSoftImage(5, 3, 1);
  const int without = MakeSoftImage(2, 2, 0);
  ASSERT_NE(-1, withAlpha);
  ASSERT_NE(-1, without);
  EXPECT_EQ(HANDLETYPE_SOFTIMAGE, HANDLE_TYPE_OF(withAlpha));
  BaseImageRecord* image = GetSoftImageBaseImage(withAlpha);
  ASSERT_NE(nullptr, image);
  EXPECT_EQ(5, image->width);
  EXPECT_EQ(3, image->height);
  EXPECT_EQ(20, image->pitch);
  EXPECT_TRUE(IsExactARGB8Format(&image->format));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(image, 4, 2));
  EXPECT_EQ(0xff000000u, GetSoftImageBaseImage(without)->format.spareMask);

  EXPECT_EQ(-1, MakeSoftImage(0, 3, 1));
  EXPECT_EQ(-1, MakeSoftImage(100000, 100000, 1));
  EXPECT_EQ(2, HandleManagers[HANDLETYPE_SOFTIMAGE].count);

  EXPECT_EQ(0, DeleteSoftImage(without));
  EXPECT_EQ(-1, DeleteSoftImage(without));
  EXPECT_EQ(nullptr, GetSoftImageBaseImage(without));
  EXPECT_EQ(nullptr, GetSoftImageBaseImage(-1));
  EXPECT_EQ(nullptr, GetSoftImageBaseImage(withAlpha + 1));
}

TEST_F(SoftImageHandles, DeletingAllFreesEveryPixel) {
  LogCapture log("softimage");
  const int count = GetAllocCount();
  const size_t total = GetAllocTotalSize();
  ASSERT_EQ(0, SetupSoftImageHandles());
  int handles[5];
  for (int i = 0; i < 5; i++) {
    handles[i] = MakeSoftImage(16 + i, 8, i & 1);
    ASSERT_NE(-1, handles[i]);
  }
  EXPECT_GT(GetAllocCount(), count + 5);

  EXPECT_EQ(0, DeleteAllSoftImages());
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SOFTIMAGE].count);
  for (int handle : handles) EXPECT_EQ(nullptr, GetSoftImageBaseImage(handle));
  EXPECT_EQ(0, ShutdownSoftImageHandles());
  EXPECT_EQ(count, GetAllocCount());
  EXPECT_EQ(total, GetAllocTotalSize());

  // The dump lists no block of the soft images, their records or pixels.
  DumpAllocList();
  const std::string text = log.Text();
  EXPECT_NE(std::string::npos, text.find("Alloc memory dump"));
  EXPECT_EQ(std::string::npos, text.find("ReReziRader.cpp"));
  EXPECT_EQ(std::string::npos, text.find("VeRavoro.cpp"));
  if (count == 0) {
    EXPECT_NE(std::string::npos, text.find("Total size:0(0.000kb)  Alloc num:0"));
  }
}

}  // namespace
