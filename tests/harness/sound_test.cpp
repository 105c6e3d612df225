// Harness check: XAudio2 2.8, loaded by name, creates a mastering voice.
#include <windows.h>
#include <objbase.h>
#include <xaudio2.h>
#include <gtest/gtest.h>

namespace {

typedef HRESULT(WINAPI* XAudio2CreateFn)(IXAudio2**, UINT32, XAUDIO2_PROCESSOR);

TEST(Harness, XAudio2MasteringVoice) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  HMODULE dll = LoadLibraryA("XAudio2_8.dll");
  ASSERT_NE(dll, nullptr);
  auto create = reinterpret_cast<XAudio2CreateFn>(reinterpret_cast<void*>(GetProcAddress(dll, "XAudio2Create")));
  ASSERT_NE(create, nullptr);

  IXAudio2* xaudio = nullptr;
  ASSERT_EQ(create(&xaudio, 0, XAUDIO2_DEFAULT_PROCESSOR), S_OK);
  IXAudio2MasteringVoice* master = nullptr;
  ASSERT_EQ(xaudio->CreateMasteringVoice(&master, XAUDIO2_DEFAULT_CHANNELS, XAUDIO2_DEFAULT_SAMPLERATE, 0, nullptr,
                                         nullptr, AudioCategory_GameEffects),
            S_OK);
  ASSERT_NE(master, nullptr);
  master->DestroyVoice();
  xaudio->Release();
  FreeLibrary(dll);
  CoUninitialize();
}

}  // namespace
