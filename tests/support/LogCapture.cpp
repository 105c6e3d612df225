#include "LogCapture.h"

#include <windows.h>

#include "RaRadaraSystem.h"
#include "TestFiles.h"

namespace test_support {

LogCapture::LogCapture(const char* tag) : folder_(NewTempFolder(tag)), ownsFolder_(true) { Start(); }

LogCapture::LogCapture(const std::string& folder) : folder_(folder), ownsFolder_(false) {
  CreateDirectoryA(folder_.c_str(), nullptr);
  Start();
}

void LogCapture::Start() {
  saved_ = LogState;
  LoadSystemLibraries();
  LogState.logOff = 0;
  LogState.dateName = 0;
  LogState.stampsOff = 1;
  SetLogFolder(folder_.c_str());
  started_ = StartLog();
}

LogCapture::~LogCapture() {
  if (ownsFolder_) RemoveTree(folder_);
  LogState = saved_;
}

std::string LogCapture::Path() const { return folder_ + "\\" + LogState.fileName; }

std::string LogCapture::Text() const { return ReadFileText(Path()); }

}  // namespace test_support
