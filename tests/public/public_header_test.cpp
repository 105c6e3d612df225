// The public header and the library's own headers declare the functions
// the library implements so far with one signature.
#include "RiDov.h"

#include <type_traits>

#include <gtest/gtest.h>

#include "DaDode.h"
#include "RaRadara.h"
#include "RaRadaraInput.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "VeVirud.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaShadowMap.h"

namespace {

TEST(PublicHeader, AgreesWithTheImplementedFunctions) {
  static_assert(std::is_same<decltype(&SetLogFileEnabled), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&OpenReadFile), int (*)(const char*, int)>::value, "");
  static_assert(std::is_same<decltype(&ReadFileChar), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&CloseReadFile), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&GetAllKeyStates), int (*)(char*)>::value, "");
  static_assert(std::is_same<decltype(&GetPadState), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&LibraryStartUp), int (*)()>::value, "");
  static_assert(std::is_same<decltype(&LibraryShutDown), int (*)()>::value, "");
  static_assert(std::is_same<decltype(&PumpWindowMessages), int (*)()>::value, "");
  static_assert(std::is_same<decltype(&SetTitleText), int (*)(const char*)>::value, "");
  static_assert(std::is_same<decltype(&ChangeWindowMode), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&SetAlwaysRunFlag), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&SetScreenMode), int (*)(int, int, int, int)>::value, "");
  static_assert(std::is_same<decltype(&PresentBackBuffer), int (*)()>::value, "");
  static_assert(std::is_same<decltype(&SetDrawTarget), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&LoadSoundFile), int (*)(const char*, int, int)>::value, "");
  static_assert(std::is_same<decltype(&PlaySoundHandle), int (*)(int, int, int)>::value, "");
  static_assert(std::is_same<decltype(&StopSoundHandle), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&CreateVertexBufferHandle), int (*)(int, int)>::value, "");
  static_assert(std::is_same<decltype(&SetVertexBufferData), int (*)(int, const void*, int, int)>::value, "");
  static_assert(std::is_same<decltype(&SetIndexBufferData), int (*)(int, const void*, int, int)>::value, "");
  static_assert(std::is_same<decltype(&MakeShadowMap), int (*)(int, int, int, int)>::value, "");
  static_assert(std::is_same<decltype(&SetShadowMapBlurCount), int (*)(int, int)>::value, "");
  static_assert(std::is_same<decltype(&GetShadowMapBlurCount), int (*)(int)>::value, "");
  static_assert(std::is_same<decltype(&SetShadowMapLightDirection), int (*)(int, float, float, float)>::value, "");
  static_assert(
      std::is_same<decltype(&SetShadowMapDrawArea), int (*)(int, float, float, float, float, float, float)>::value, "");
  // One function, not an overload: taking its address is unambiguous.
  int (*clock)(int) = &GetMillisecondCount;
  EXPECT_NE(nullptr, clock);
  EXPECT_STREQ("3.11d", RIDOV_VERSION_TEXT);
}

}  // namespace
