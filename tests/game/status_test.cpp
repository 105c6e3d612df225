#include <stdlib.h>

#include "GameFixture.h"

using namespace ridov_double;

namespace {

using Calls_ = std::vector<std::string>;

class StatusTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (int i = 0; i < 40; ++i) DrawCtlInstance.ImageSets[310].Handles[i] = 500 + i;
    DrawCtlInstance.ImageSets[311].Handles[0] = 611;
    DrawCtlInstance.ImageSets[312].Handles[0] = 620;
    DrawCtlInstance.ImageSets[312].Handles[1] = 621;
    DrawCtlInstance.ImageSets[314].Handles[0] = 640;
    DrawCtlInstance.ImageSets[315].Handles[0] = 650;
    DrawCtlInstance.ImageSets[316].Handles[0] = 660;
  }

  // The image draws and clips of one status draw.
  Calls_ DrawStatus() {
    StatusInstance.Draw();
    Calls_ out;
    for (const std::string& c : Flush())
      if (c.rfind("DrawImage", 0) == 0 || (c.rfind("SetClipRect(", 0) == 0 && c != "SetClipRect(0,0,960,720)"))
        out.push_back(c);
    return out;
  }

  Calls_ PopupDraws() {
    Calls_ out;
    for (const std::string& c : DrawStatus())
      if (c.find(",30,") != std::string::npos && c.rfind("DrawImageAt(", 0) == 0) out.push_back(c);
    return out;
  }
};

TEST_F(StatusTest, InitAndResetSetTheStartingValues) {
  StatusInstance.Records[0].Field[STATUS_OPTION_COUNT] = 3;
  StatusInstance.AddScore(1, 500);
  StatusInstance.SetStatusField(2, STATUS_LIVES, 1);
  StatusInstance.SetStatusField(1, STATUS_BOSS_HP, 40);
  StatusInstance.PlayFrameCounter = 99;

  StatusInstance.ResetPlayStatus();
  for (int record : {1, 2}) {
    EXPECT_EQ(0, StatusInstance.GetScore(record));
    EXPECT_EQ(2, StatusInstance.GetStatusField(record, 0));
    EXPECT_EQ(5, StatusInstance.GetStatusField(record, STATUS_LIVES));
    EXPECT_EQ(20000, StatusInstance.GetStatusField(record, STATUS_GAUGE));
    EXPECT_EQ(0, StatusInstance.GetStatusField(record, STATUS_SHOT_TYPE));
    EXPECT_EQ(0, StatusInstance.GetStatusField(record, STATUS_ITEM_COUNT));
    EXPECT_EQ(0, StatusInstance.GetStatusField(record, STATUS_ITEM_COUNT_2));
  }
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_OPTION_COUNT)) << "options end with the game";
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
  EXPECT_EQ(0, StatusInstance.PlayFrameCounter);
  EXPECT_EQ(500, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE)) << "kept by the reset";

  StatusInstance.Records[1].Field[STATUS_OPTION_COUNT] = 4;
  StatusInstance.Init();
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
  EXPECT_EQ(0, StatusInstance.GetStatusField(2, STATUS_OPTION_COUNT));
}

TEST_F(StatusTest, ScoreGainsRaiseTheHighScore) {
  StatusInstance.AddScore(1, 300);
  StatusInstance.AddScore(2, 200);
  EXPECT_EQ(300, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
  StatusInstance.AddScore(2, 150);
  EXPECT_EQ(350, StatusInstance.GetStatusField(2, STATUS_HIGH_SCORE));
  EXPECT_EQ(300, StatusInstance.GetScore(1));
}

struct SetCase {
  int field;
  int value;
  int stored;
};

class StatusSetterTest : public StatusTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(StatusSetterTest, SetterAppliesTheLimits) {
  const SetCase& c = GetParam();
  StatusInstance.SetStatusField(1, c.field, c.value);
  EXPECT_EQ(c.stored, StatusInstance.GetStatusField(1, c.field));
  if (c.field >= 0 && c.field <= 6) {
    StatusInstance.SetStatusField(2, c.field, c.value);
    EXPECT_EQ(c.stored, StatusInstance.GetStatusField(2, c.field)) << "record 2 alike";
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, StatusSetterTest,
                         ::testing::Values(SetCase{STATUS_LIVES, 6, 5}, SetCase{STATUS_LIVES, 5, 5},
                                           SetCase{STATUS_LIVES, 2, 2}, SetCase{STATUS_LIVES, -3, -3},
                                           SetCase{STATUS_GAUGE, 40000, 30000}, SetCase{STATUS_GAUGE, 30000, 30000},
                                           SetCase{STATUS_GAUGE, 12345, 12345}, SetCase{STATUS_GAUGE, -10, -10},
                                           SetCase{0, 9, 9}, SetCase{STATUS_SHOT_TYPE, 2, 2},
                                           SetCase{STATUS_ITEM_COUNT, 7, 7}, SetCase{STATUS_OPTION_COUNT, 6, 6},
                                           SetCase{STATUS_ITEM_COUNT_2, 4, 4}, SetCase{STATUS_BOSS_HP, 777, 777},
                                           SetCase{7, 5, 0}, SetCase{STATUS_HIGH_SCORE, 9999, 0}));

TEST_F(StatusTest, InvalidRecordsAreIgnored) {
  StatusInstance.SetStatusField(0, STATUS_LIVES, 1);
  StatusInstance.SetStatusField(3, STATUS_LIVES, 1);
  EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
  EXPECT_EQ(0, StatusInstance.GetStatusField(3, STATUS_LIVES));
  StatusInstance.AddScore(5, 100);
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
}

TEST_F(StatusTest, ScoreShowsTenDigitsWithLeadingZeros) {
  StatusInstance.AddScore(1, 1234);
  Calls_ digits;
  for (const std::string& c : DrawStatus())
    if (c.find(",-3,") != std::string::npos) digits.push_back(c);
  Calls_ expected;
  const int shown[10] = {0, 0, 0, 0, 0, 0, 1, 2, 3, 4};
  for (int i = 0; i < 10; ++i)
    expected.push_back("DrawImageAt(" + std::to_string(525 + 21 * i) + ",-3," + std::to_string(500 + shown[i]) + ",1)");
  EXPECT_EQ(expected, digits);
}

TEST_F(StatusTest, DigitTileOfMinusOneIsSkipped) {
  DrawCtlInstance.ImageSets[310].Handles[3] = -1;
  StatusInstance.AddScore(1, 1234);
  int digits = 0;
  for (const std::string& c : DrawStatus())
    if (c.find(",-3,") != std::string::npos) ++digits;
  EXPECT_EQ(9, digits);
}

TEST_F(StatusTest, PanelDrawsGaugeLifeSignsAndFrame) {
  StatusInstance.PlayFrameCounter = 45;  // gauge 20000: |sin(45 x 2 degrees)| = 1
  StatusInstance.SetStatusField(1, STATUS_LIVES, 3);
  Calls_ calls = DrawStatus();
  Calls_ head(calls.begin(), calls.begin() + 15);
  Calls_ expected = {
      "SetClipRect(220,62,374,162)",
      "DrawImageAt(220,7,640,1)",
      "SetClipRect(220,62,374,162)",
      "DrawImageAt(220,7,660,1)",
      "SetClipRect(220,7,374,62)",
      "DrawImageAt(220,7,650,1)",
      "DrawImageRotatedAbout(277,81,26,46,1,0,620,1,0)",
      "DrawImageRotatedAbout(277,81,26,46,1," + Num(2 * 3.1415926535898 / 5) + ",620,1,0)",
      "DrawImageRotatedAbout(277,81,26,46,1," + Num(4 * 3.1415926535898 / 5) + ",620,1,0)",
      "DrawImageRotatedAbout(277,81,26,46,1," + Num(6 * 3.1415926535898 / 5) + ",621,1,0)",
      "DrawImageRotatedAbout(277,81,26,46,1," + Num(8 * 3.1415926535898 / 5) + ",621,1,0)",
      "DrawImageAt(220,7,611,1)",
      "DrawImageAt(525,-3,500,1)",
      "DrawImageAt(546,-3,500,1)",
      "DrawImageAt(567,-3,500,1)",
  };
  EXPECT_EQ(expected, head);
  Calls_ blends = CallsOf("SetBlendMode");
  EXPECT_EQ("SetBlendMode(1,220)", blends[0]);
  EXPECT_EQ("SetBlendMode(1,220)", blends[2]) << "white gauge at the pulse's peak";
  EXPECT_EQ(22u, calls.size()) << "no pop-up without a rise";
}

TEST_F(StatusTest, GaugePulseFollowsTheFrameCounter) {
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 30000);  // three full steps: 3 degrees a frame
  StatusInstance.PlayFrameCounter = 20;                   // sin(60 degrees) x 220 = 190.5
  DrawStatus();
  EXPECT_EQ("SetBlendMode(1,190)", CallsOf("SetBlendMode")[2]);
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 9999);  // below one step: no pulse
  DrawStatus();
  EXPECT_EQ("SetBlendMode(1,0)", CallsOf("SetBlendMode")[2]);
}

TEST_F(StatusTest, PopupPositions) {
  // Slides in from 750 to 585, rests, slides out again.
  const int cases[][2] = {{1, 749},   {15, 667},  {29, 585},  {30, 585}, {240, 585},
                          {241, 585}, {242, 586}, {255, 667}, {270, 750}};
  for (const auto& c : cases) EXPECT_EQ(c[1], CStatus::PopupX(c[0])) << "t " << c[0];
}

TEST_F(StatusTest, PopupDrawsMarksAndItemDigitsClippedToThePlayField) {
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 123);
  StatusInstance.PopupTimer = 100;
  Calls_ calls = DrawStatus();
  Calls_ tail(calls.end() - 14, calls.end());
  Calls_ expected;
  const int x = 585;
  const int tiles[7] = {520, 520, 500, 500, 501, 502, 503};
  const int xs[7] = {x, x + 20, x + 45, x + 66, x + 87, x + 108, x + 129};
  for (int i = 0; i < 7; ++i) {
    expected.push_back("SetClipRect(210,0,750,720)");
    expected.push_back("DrawImageAt(" + std::to_string(xs[i]) + ",30," + std::to_string(tiles[i]) + ",1)");
  }
  EXPECT_EQ(expected, tail);
  EXPECT_EQ(101, StatusInstance.PopupTimer);
}

TEST_F(StatusTest, PopupRunsFor270Frames) {
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 1);
  EXPECT_EQ(1, StatusInstance.PopupTimer);
  for (int frame = 0; frame < 269; ++frame) StatusInstance.Draw();
  EXPECT_EQ(270, StatusInstance.PopupTimer);
  StatusInstance.Draw();
  EXPECT_EQ(0, StatusInstance.PopupTimer);
  memset(DrawQueue, 0, sizeof DrawQueue);
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  EXPECT_TRUE(PopupDraws().empty());
}

TEST_F(StatusTest, SecondRiseHoldsThePopupAtRest) {
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 1);
  for (int frame = 0; frame < 100; ++frame) StatusInstance.Draw();
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 2);
  EXPECT_EQ(30, StatusInstance.PopupTimer);
  memset(DrawQueue, 0, sizeof DrawQueue);
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);

  // 210 frames after the second rise it still rests at 585 ...
  for (int frame = 0; frame < 210; ++frame) PopupDraws();
  EXPECT_EQ(240, StatusInstance.PopupTimer);
  EXPECT_EQ("DrawImageAt(585,30,520,1)", PopupDraws()[0]);
  // ... then slides out over 30 frames and is gone.
  int lastX = 585;
  for (int frame = 0; frame < 30; ++frame) {
    Calls_ draws = PopupDraws();
    ASSERT_FALSE(draws.empty());
    int x = atoi(draws[0].c_str() + strlen("DrawImageAt("));
    EXPECT_GE(x, lastX);
    lastX = x;
  }
  EXPECT_EQ(750, lastX);
  EXPECT_EQ(0, StatusInstance.PopupTimer);
  EXPECT_TRUE(PopupDraws().empty());
}

TEST_F(StatusTest, RisesWhileSlidingDoNotRestartThePopup) {
  struct {
    int timer, after;
  } cases[] = {{10, 10}, {29, 29}, {30, 30}, {200, 30}, {240, 30}, {241, 241}, {250, 250}};
  for (const auto& c : cases) {
    StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 0);
    StatusInstance.PopupTimer = c.timer;
    StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 5);
    EXPECT_EQ(c.after, StatusInstance.PopupTimer) << "timer " << c.timer;
  }
  StatusInstance.PopupTimer = 100;
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 5);
  StatusInstance.SetStatusField(1, STATUS_ITEM_COUNT, 4);
  EXPECT_EQ(100, StatusInstance.PopupTimer) << "no rise, no change";
}

TEST_F(StatusTest, UpdateCountsPlayFrames) {
  StatusInstance.Update();
  StatusInstance.Update();
  EXPECT_EQ(2, StatusInstance.PlayFrameCounter);
}

TEST_F(StatusTest, LoadSoundsMakesTheNineteenLoadsOfTheTables) {
  CurrentMusicHandle = 1234;
  LoadSounds();
  Calls_ expected;
  for (const char* file :
       {"sound/tm2_shoot000.wav", "sound/gun13_c.wav", "sound/tm2_shoot001.wav", "sound/tm2_shoot003.wav",
        "sound/one23.mp3", "sound/button25.mp3", "sound/status01.mp3", "sound/explode.mp3", "sound/alarm1.mp3",
        "sound/tm2_death001.wav", "music/top.mp3", "music/stage1/cirrus.mp3", "music/world_2.mp3", "music/world_3.mp3",
        "music/world_4.mp3", "music/world_5.mp3", "music/world_6.mp3", "music/normal_boss/alarm.mp3",
        "music/hageshii17-090228-karakurinobousou-wav.wav"})
    expected.push_back("LoadSoundFile(\"" + std::string(file) + "\",3,-1)");
  EXPECT_EQ(expected, Calls());
  EXPECT_EQ(NO_MUSIC, CurrentMusicHandle);
  EXPECT_EQ(0x0C000001, SoundEffectHandles[0]);
  EXPECT_EQ(0x0C000012, MusicHandles[MUSIC_BOSS]);
}

TEST_F(StatusTest, MusicAndEffectsPlayOnlyWhenLoaded) {
  QueueResults("LoadSoundFile", {-1});
  LoadSounds();
  MusicHandles[MUSIC_BOSS] = -1;
  ClearCalls();

  PlaySoundEffect(0);
  StartMusic(MUSIC_BOSS);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(NO_MUSIC, CurrentMusicHandle);

  PlaySoundEffect(9);
  StartMusic(MUSIC_STAGE);
  Calls_ expected = {"PlaySoundHandle(" + std::to_string(SoundEffectHandles[9]) + ",1,1)",
                     "PlaySoundHandle(" + std::to_string(MusicHandles[MUSIC_STAGE]) + ",3,1)"};
  EXPECT_EQ(expected, Calls());
  EXPECT_EQ(MusicHandles[MUSIC_STAGE], CurrentMusicHandle);
}

TEST_F(StatusTest, StopMusicStopsOnlyAPlayingMusic) {
  StopMusic();
  EXPECT_TRUE(Calls().empty());

  LoadSounds();
  StartMusic(MUSIC_STAGE);
  ClearCalls();
  StopMusic();
  EXPECT_EQ((Calls_{"StopSoundHandle(" + std::to_string(MusicHandles[MUSIC_STAGE]) + ")"}), Calls());
  EXPECT_EQ(NO_MUSIC, CurrentMusicHandle);
  StopMusic();
  EXPECT_EQ(1u, Calls().size());
}

}  // namespace
