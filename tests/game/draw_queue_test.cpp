#include "GameFixture.h"

using namespace ridov_double;

namespace {

using Calls_ = std::vector<std::string>;

const char* const BLEND_RESET = "SetBlendMode(0,0)";
const char* const CLIP_RESET = "SetClipRect(0,0,960,720)";

class DrawQueueTest : public GameTest {};

TEST_F(DrawQueueTest, EmptyFrameDrawsNothing) {
  Calls_ expected = {"SetSamplingMode(1)", "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
  for (int i : DrawQueueLayerIndex) EXPECT_EQ(0, i);
}

TEST_F(DrawQueueTest, UnclippedEntryStartsFromItsAlphaAndLeavesNoState) {
  QueueImage(2, 10, 20, 77, 128);
  EXPECT_EQ(1, DrawQueueLayerIndex[1]);
  Calls_ expected = {"SetSamplingMode(1)", "SetBlendMode(1,128)", "DrawImageAt(10,20,77,1)", BLEND_RESET,
                     CLIP_RESET,           "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
  EXPECT_EQ(0, DrawQueueLayerIndex[1]);
  EXPECT_EQ(DRAW_EMPTY, DrawQueue[1][0].Kind);
}

TEST_F(DrawQueueTest, ClipAppliesToItsEntryOnly) {
  DrawClip clip = {true, 210, 0, 750, 720};
  QueueImage(6, 1, 2, 3, 255, &clip);
  QueueImage(6, 4, 5, 6, 200);
  Calls_ expected = {"SetSamplingMode(1)",  "SetClipRect(210,0,750,720)",
                     "SetBlendMode(1,255)", "DrawImageAt(1,2,3,1)",
                     BLEND_RESET,           CLIP_RESET,
                     "SetBlendMode(1,200)", "DrawImageAt(4,5,6,1)",
                     BLEND_RESET,           CLIP_RESET,
                     "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
}

TEST_F(DrawQueueTest, LayersAreDrawnInAscendingOrder) {
  QueueImage(12, 12, 0, 1, 255);
  QueueImage(1, 1, 0, 1, 255);
  QueueImage(7, 7, 0, 1, 255);
  QueueImage(1, 2, 0, 1, 255);
  Flush();
  Calls_ expected = {"DrawImageAt(1,0,1,1)", "DrawImageAt(2,0,1,1)", "DrawImageAt(7,0,1,1)", "DrawImageAt(12,0,1,1)"};
  EXPECT_EQ(expected, CallsOf("DrawImageAt"));
}

TEST_F(DrawQueueTest, LayersOutsideOneToTwelveAreIgnored) {
  QueueImage(0, 1, 1, 1, 255);
  QueueImage(13, 1, 1, 1, 255);
  QueueBox(-1, 0, 0, 1, 1, 0, 255);
  Calls_ expected = {"SetSamplingMode(1)", "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
}

TEST_F(DrawQueueTest, ALayerWrapsAt3000AndDrawsAllSlots) {
  for (int i = 0; i <= DRAW_LAYER_CAPACITY; ++i) QueueImage(3, i, 0, 9, 255);
  EXPECT_EQ(1, DrawQueueLayerIndex[2]);
  Flush();
  Calls_ draws = CallsOf("DrawImageAt");
  ASSERT_EQ(3000u, draws.size());
  EXPECT_EQ("DrawImageAt(3000,0,9,1)", draws[0]) << "the 3001st overwrote the first";
  EXPECT_EQ("DrawImageAt(1,0,9,1)", draws[1]);
  EXPECT_EQ("DrawImageAt(2999,0,9,1)", draws[2999]);
  EXPECT_EQ(0, DrawQueueLayerIndex[2]);

  QueueImage(3, 5, 5, 9, 255);
  Flush();
  EXPECT_EQ(1, CountOf("DrawImageAt")) << "nothing of the last frame stays";
}

TEST_F(DrawQueueTest, GlowDrawsThreePasses) {
  QueueGlowImage(5, 6, 99);
  EXPECT_EQ(1, DrawQueueLayerIndex[6]) << "glows go to layer 7";
  Calls_ expected = {"SetSamplingMode(1)",
                     "SetBlendMode(1,30)",
                     "SetDrawTint(255,255,255)",
                     "SetBlendMode(10,255)",
                     "DrawImageAt(5,6,99,1)",
                     "SetBlendMode(2,255)",
                     "DrawImageAt(5,6,99,1)",
                     "SetDrawTint(255,255,255)",
                     "SetBlendMode(1,30)",
                     "DrawImageAt(5,6,99,1)",
                     BLEND_RESET,
                     BLEND_RESET,
                     CLIP_RESET,
                     "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
}

TEST_F(DrawQueueTest, RotatedGlowTintsWithTheEntryColor) {
  DrawEntry e = {};
  e.Kind = DRAW_GLOW_ROTATED;
  e.Quad[0] = 100.5;
  e.Quad[1] = 50.25;
  e.Scale = 2.0;
  e.Angle = 0.5;
  e.Graphic = 44;
  e.Color = 0x102030;
  e.Alpha = 90;
  QueueEntry(7, e);
  std::string draw = "DrawImageRotated(100.5,50.25,2,0.5,44,1,0)";
  Calls_ expected = {"SetSamplingMode(1)",
                     "SetBlendMode(1,90)",
                     "SetDrawTint(16,32,48)",
                     "SetBlendMode(10,255)",
                     draw,
                     "SetBlendMode(2,255)",
                     draw,
                     "SetDrawTint(255,255,255)",
                     "SetBlendMode(1,90)",
                     draw,
                     BLEND_RESET,
                     BLEND_RESET,
                     CLIP_RESET,
                     "SetSamplingMode(0)"};
  EXPECT_EQ(expected, Flush());
}

struct KindCase {
  const char* name;
  void (*queue)();
  const char* draw;  // the one draw call, or null for none
};

const KindCase KIND_CASES[] = {
    {"Rotated", [] { QueueImageRotated(4, 21, 255, 300.5, 400.0, 1.5, 0.25); },
     "DrawImageRotated(300.5,400,1.5,0.25,21,1,0)"},
    {"HpGauge", [] { QueueHpGauge(22, 1.0, 1.25); }, "DrawImageRotatedAbout(277,81,26,46,1,1.25,22,1,0)"},
    {"ScaledXY",
     [] {
       DrawEntry e = {};
       e.Kind = DRAW_IMAGE_ROTATED_SCALED_XY;
       e.X1 = 1;
       e.Y1 = 2;
       e.CenterX = 3;
       e.CenterY = 4;
       e.ScaleX = 0.5;
       e.ScaleY = 2;
       e.Angle = 3;
       e.Graphic = 23;
       e.Transparent = 1;
       QueueEntry(4, e);
     },
     "DrawImageRotatedScaledXY(1,2,3,4,0.5,2,3,23,1,0)"},
    {"Quad",
     [] {
       const float corners[8] = {1.5f, 2, 30, 2, 30, 40, 1.5f, 40};
       QueueQuad(corners, 24);
     },
     "DrawImageQuad(1.5,2,30,2,30,40,1.5,40,24,1)"},
    {"Circle", [] { QueueCircle(100, 200, 17); }, "DrawCircleShape(100,200,17,0xFFFFFFFF,0,1)"},
    {"Box", [] { QueueBox(10, 210, 0, 750, 720, 0, 128); }, "DrawRectShape(210,0,750,720,0xFF000000,1)"},
    {"Triangle", [] { QueueTriangle(1, 2, 3, 4, 5, 6, 0x00FF00, 255); }, "DrawTriangleShape(1,2,3,4,5,6,0xFF00FF00,1)"},
    {"Kind5",
     [] {
       DrawEntry e = {};
       e.Kind = 5;
       QueueEntry(2, e);
     },
     nullptr},
    {"Kind7",
     [] {
       DrawEntry e = {};
       e.Kind = 7;
       QueueEntry(2, e);
     },
     nullptr},
};

class DrawKindTest : public GameTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(DrawKindTest, FlushDrawsTheKindBetweenBlendAndReset) {
  GetParam().queue();
  Calls_ calls = Flush();
  // Drop the colour conversions; they are checked separately.
  Calls_ steps;
  for (const std::string& c : calls)
    if (c.rfind("MakeColorValue(", 0) != 0) steps.push_back(c);
  ASSERT_GE(steps.size(), 5u);
  EXPECT_EQ("SetSamplingMode(1)", steps.front());
  EXPECT_EQ("SetSamplingMode(0)", steps.back());
  EXPECT_EQ(0u, steps[1].rfind("SetBlendMode(1,", 0));
  Calls_ middle(steps.begin() + 2, steps.end() - 3);
  if (GetParam().draw != nullptr) {
    EXPECT_EQ(Calls_{GetParam().draw}, middle);
  } else {
    EXPECT_TRUE(middle.empty());
  }
  EXPECT_EQ(BLEND_RESET, steps[steps.size() - 3]);
  EXPECT_EQ(CLIP_RESET, steps[steps.size() - 2]);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DrawKindTest, ::testing::ValuesIn(KIND_CASES),
                         [](const ::testing::TestParamInfo<KindCase>& info) { return info.param.name; });

TEST_F(DrawQueueTest, FixedLayersAndAlphasOfTheQueueOperations) {
  QueueHpGauge(1, 1.0, 0);
  QueueQuad(std::vector<float>(8, 0.0f).data(), 1);
  QueueCircle(0, 0, 1);
  QueueTriangle(0, 0, 0, 0, 0, 0, 0, 77);
  QueueGlowImage(0, 0, 1);
  EXPECT_EQ(220, DrawQueue[7][0].Alpha);
  EXPECT_EQ(255, DrawQueue[4][0].Alpha);
  EXPECT_EQ(255, DrawQueue[11][0].Alpha);
  EXPECT_EQ(77, DrawQueue[11][1].Alpha);
  EXPECT_EQ(30, DrawQueue[6][0].Alpha);
}

TEST_F(DrawQueueTest, ShapeAndTextColorsAreScreenColors) {
  SetColorBits(16);
  QueueBox(10, 0, 0, 10, 10, 0xFFFFFF, 255);
  QueueCircle(5, 5, 3);
  QueueText(9, "a", 1, 2, 0xFD2848, 1, 0);
  Flush();
  EXPECT_EQ((Calls_{"DrawRectShape(0,0,10,10,0xFFFF,1)"}), CallsOf("DrawRectShape"));
  EXPECT_EQ((Calls_{"DrawCircleShape(5,5,3,0xFFFF,0,1)"}), CallsOf("DrawCircleShape"));
  EXPECT_EQ((Calls_{"MakeColorValue(253,40,72)", "MakeColorValue(255,255,255)", "MakeColorValue(255,255,255)"}),
            CallsOf("MakeColorValue"));
  Calls_ text = CallsOf("DrawTextWithFont");
  ASSERT_EQ(1u, text.size());
  EXPECT_EQ("DrawTextWithFont(1,2,\"a\",0xF949," + std::to_string(0x20000001) + ",0x0,0)", text[0]);
}

TEST_F(DrawQueueTest, DebugHitBoxIsTwoRedTriangles) {
  const double corners[8] = {10.9, 20, 30, 20, 30, 40, 10, 40.5};
  QueueDebugHitBox(corners, 100);
  Flush();
  Calls_ expected = {"DrawTriangleShape(10,20,30,20,30,40,0xFFFF0000,1)",
                     "DrawTriangleShape(10,20,10,40,30,40,0xFFFF0000,1)"};
  EXPECT_EQ(expected, CallsOf("DrawTriangleShape"));
  EXPECT_EQ((Calls_{"SetBlendMode(1,100)", BLEND_RESET, "SetBlendMode(1,100)", BLEND_RESET}), CallsOf("SetBlendMode"));
}

TEST_F(DrawQueueTest, FontIsCreatedOncePerSizeAndType) {
  QueueText(9, "one", 0, 0, 0, 1, 0);
  QueueText(9, "two", 0, 0, 0, 1, 0);
  QueueText(9, "big", 0, 0, 0, 8, 3);
  Flush();
  Calls_ expected = {"CreateFontToHandle(null,15,-1,0,-1,-1,0,-1)", "CreateFontToHandle(null,50,-1,19,-1,-1,0,-1)"};
  EXPECT_EQ(expected, CallsOf("CreateFontToHandle"));
  EXPECT_EQ(0x20000001, FontCache[1 * 4 + 0]);
  EXPECT_EQ(0x20000002, FontCache[8 * 4 + 3]);

  QueueText(9, "again", 0, 0, 0, 1, 0);
  Flush();
  EXPECT_EQ(0, CountOf("CreateFontToHandle"));
  EXPECT_EQ(1, CountOf("DrawTextWithFont"));
  EXPECT_EQ(0x20000002, GetCachedFont(8, 3));
}

TEST_F(DrawQueueTest, FailedFontIsNotDrawnAndTriedAgain) {
  QueueResults("CreateFontToHandle", {-1});
  QueueText(9, "x", 0, 0, 0, 2, 1);
  Flush();
  EXPECT_EQ(0, CountOf("DrawTextWithFont"));
  EXPECT_EQ(-1, FontCache[2 * 4 + 1]);
  QueueText(9, "x", 0, 0, 0, 2, 1);
  Flush();
  EXPECT_EQ((Calls_{"CreateFontToHandle(null,20,-1,1,-1,-1,0,-1)"}), CallsOf("CreateFontToHandle"));
  EXPECT_EQ(1, CountOf("DrawTextWithFont"));
}

TEST_F(DrawQueueTest, FontIndexesOutOfRangeDrawNothing) {
  QueueText(9, "x", 0, 0, 0, 13, 0);
  QueueText(9, "x", 0, 0, 0, 0, 4);
  QueueText(9, "x", 0, 0, 0, -1, 0);
  Flush();
  EXPECT_EQ(0, CountOf("CreateFontToHandle"));
  EXPECT_EQ(0, CountOf("DrawTextWithFont"));
}

TEST_F(DrawQueueTest, TextIsCutAt127BytesAndAtAWholeCharacter) {
  std::string plain(200, 'a');
  std::string straddling = std::string(126, 'b') + "\x82\xA0" + "cc";  // lead byte at 126
  std::string fitting = std::string(125, 'd') + "\x82\xA0" + "ee";     // trail byte at 126
  QueueText(9, plain.c_str(), 0, 0, 0, 0, 0);
  QueueText(9, straddling.c_str(), 0, 0, 0, 0, 0);
  QueueText(9, fitting.c_str(), 0, 0, 0, 0, 0);
  EXPECT_EQ(std::string(127, 'a'), DrawQueue[8][0].Text);
  EXPECT_EQ(std::string(126, 'b'), DrawQueue[8][1].Text);
  EXPECT_EQ(std::string(125, 'd') + "\x82\xA0", DrawQueue[8][2].Text);
  Flush();
  Calls_ drawn = CallsOf("DrawTextWithFont");
  ASSERT_EQ(3u, drawn.size());
  EXPECT_NE(std::string::npos, drawn[0].find("\"" + std::string(127, 'a') + "\""));
}

TEST_F(DrawQueueTest, CutTextLengthKeepsCharactersWhole) {
  EXPECT_EQ(0, CutTextLength("", 10));
  EXPECT_EQ(3, CutTextLength("abc", 10));
  EXPECT_EQ(2, CutTextLength("abc", 2));
  EXPECT_EQ(1, CutTextLength("a\x82\xA0", 2));
  EXPECT_EQ(3, CutTextLength("a\x82\xA0", 3));
  EXPECT_EQ(1, CutTextLength("a\x82", 10)) << "a lone lead byte at the end is dropped";
  EXPECT_EQ(2, CutTextLength("\xE0\x40z", 2));
}

TEST_F(DrawQueueTest, LoadImagesMakesTheThirtyLoadsOfTheTable) {
  DrawCtlInstance.Init();
  Calls_ expected = {
      "LoadImageDivided(\"img/player/thiko.png\",16,4,4,55,80,0)",
      "LoadImageDivided(\"img/enemy/rubyrou.png\",16,4,4,50,50,0)",
      "LoadImageDivided(\"img/enemy/flamefly.png\",16,4,4,50,50,0)",
      "LoadImageDivided(\"img/enemy/agcat.png\",16,4,4,150,120,0)",
      "LoadImageDivided(\"img/enemy/cannon.png\",16,4,4,75,75,0)",
      "LoadImageDivided(\"img/enemy/doradora.png\",16,4,4,150,120,0)",
      "LoadImageDivided(\"img/enemy/fairyknight.png\",16,4,4,150,240,0)",
      "LoadImageDivided(\"img/enemy/kukuru.png\",16,4,4,130,130,0)",
      "LoadImageDivided(\"img/bullet/player.png\",16,4,4,32,32,0)",
      "LoadImageDivided(\"img/bullet/player.png\",16,4,4,32,32,0)",
      "LoadImageDivided(\"img/bullet/bigfire.png\",16,4,4,70,70,0)",
      "LoadImageDivided(\"img/bullet/fullfire.png\",16,4,4,155,190,0)",
      "LoadImageDivided(\"img/bullet/flower.png\",16,4,4,51,51,0)",
      "LoadImageDivided(\"img/bullet/bullet.png\",16,4,4,38,38,0)",
      "LoadImageDivided(\"img/bullet/lazer.png\",16,4,4,32,160,0)",
      "LoadImageDivided(\"img/bullet/tornado.png\",16,4,4,40,40,0)",
      "LoadImageDivided(\"img/item/quinsel.png\",16,4,4,35,35,0)",
      "LoadImageDivided(\"img/item/seed.png\",16,4,4,40,40,0)",
      "LoadImageDivided(\"img/item/seed.png\",16,4,4,45,45,0)",
      "LoadImageDivided(\"img/item/quinsel.png\",16,4,4,35,35,0)",
      "LoadImageDivided(\"img/item/magic.png\",16,4,4,80,80,0)",
      "LoadImageDivided(\"img/stage/stage1.png\",1,1,1,540,4000,0)",
      "LoadImageDivided(\"img/status/status.png\",40,10,4,40,40,0)",
      "LoadImageDivided(\"img/status/frame3.png\",1,1,1,154,155,0)",
      "LoadImageDivided(\"img/status/hp_bar.png\",2,2,1,53,46,0)",
      "LoadImageDivided(\"img/status/mp_on2.png\",1,1,1,154,155,0)",
      "LoadImageDivided(\"img/status/mp_on2_white.png\",1,1,1,154,155,0)",
      "LoadImageDivided(\"img/status/mp_off2.png\",1,1,1,154,155,0)",
      "LoadImageDivided(\"img/status/enemy_hp.png\",1,1,1,1,300,0)",
      "LoadImageDivided(\"img/status/enemy_hp_frame.png\",1,1,1,1,300,0)",
  };
  EXPECT_EQ(expected, Calls());

  // The double hands out handle load x 1000 + tile.
  EXPECT_EQ(1003, DrawCtlInstance.ImageSets[0].Handles[3]);
  EXPECT_EQ(20000, DrawCtlInstance.ImageSets[230].Handles[0]);
  EXPECT_EQ(23039, DrawCtlInstance.ImageSets[310].Handles[39]);
  EXPECT_EQ(0, DrawCtlInstance.ImageSets[310].Handles[40]) << "unfilled slots hold 0";
  EXPECT_EQ(0, DrawCtlInstance.ImageSets[313].Handles[0]) << "set 313 stays empty";
}

TEST_F(DrawQueueTest, CopyImageSetAddressesByCategoryAndIndex) {
  DrawCtlInstance.Init();
  int out[IMAGE_SET_SIZE] = {};
  DrawCtlInstance.CopyImageSet(7, 1, out);
  EXPECT_EQ(22000, out[0]);
  DrawCtlInstance.CopyImageSet(3, 100, out);
  EXPECT_EQ(20000, out[0]);
  DrawCtlInstance.CopyImageSet(1, 6, out);
  EXPECT_EQ(8015, out[15]);
  DrawCtlInstance.CopyImageSet(8, 8, out);
  EXPECT_EQ(30000, out[0]);

  int untouched[IMAGE_SET_SIZE];
  for (int& h : untouched) h = -7;
  for (int category : {4, 5, 6, 9, -1, 10}) DrawCtlInstance.CopyImageSet(category, 0, untouched);
  DrawCtlInstance.CopyImageSet(8, 100, untouched);
  for (int h : untouched) EXPECT_EQ(-7, h);
}

TEST_F(DrawQueueTest, FailedSheetLeavesItsSetAsTheLoaderLeftIt) {
  QueueResults("LoadImageDivided", {-1});
  DrawCtlInstance.Init();
  EXPECT_EQ(0, DrawCtlInstance.ImageSets[0].Handles[0]);
  EXPECT_EQ(2000, DrawCtlInstance.ImageSets[10].Handles[0]);
}

}  // namespace
