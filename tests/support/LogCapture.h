// Points the library log at a folder for the life of the object: file
// output on, the plain file name, no time stamps. The log state is put
// back at the end.
#ifndef LOG_CAPTURE_H
#define LOG_CAPTURE_H

#include <string>

#include "RaRadaraLog.h"

namespace test_support {

class LogCapture {
 public:
  // A fresh temporary folder named after `tag`, removed at the end.
  explicit LogCapture(const char* tag);
  // The caller's folder (made if missing), left in place at the end.
  explicit LogCapture(const std::string& folder);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::string& Folder() const { return folder_; }
  std::string Path() const;  // the log file
  std::string Text() const;  // all written so far; empty without a file
  bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }
  int StartResult() const { return started_; }  // what StartLog returned

 private:
  void Start();

  std::string folder_;
  bool ownsFolder_;
  int started_ = -1;
  LogFileState saved_;
};

}  // namespace test_support

#endif  // LOG_CAPTURE_H
