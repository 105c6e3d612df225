// Log texts reach the file byte for byte: LogPrintf ends every line
// itself, so no text given to it may end in a line feed of its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RoRezedur_.h"

namespace {

using test_support::LogCapture;

// The project's root as the test program under Wine sees it.
std::string ProjectRoot() {
  std::string path = __FILE__;  // .../tests/base/log_texts_test.cpp
  for (int i = 0; i < 3; ++i) path = path.substr(0, path.find_last_of("/\\"));
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

void CollectSources(const std::string& folder, std::vector<std::string>* files) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectSources(path, files);
    } else if (name.size() > 4 &&
               (name.compare(name.size() - 4, 4, ".cpp") == 0 || name.compare(name.size() - 2, 2, ".h") == 0)) {
      files->push_back(path);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

std::string ReadText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

bool IsNameChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

size_t SkipSpace(const std::string& text, size_t i) {
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

// Reads the adjacent string literals at `i` (with or without L); the last
// one's source text, or false when there is none. `i` moves past them.
bool ReadLiterals(const std::string& text, size_t* i, std::string* last) {
  bool any = false;
  for (;;) {
    size_t at = SkipSpace(text, *i);
    if (at < text.size() && text[at] == 'L') ++at;
    if (at >= text.size() || text[at] != '"') return any;
    size_t end = at + 1;
    while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
    *last = text.substr(at + 1, end - at - 1);
    *i = end + 1;
    any = true;
  }
}

bool EndsInLineFeed(const std::string& literal) {
  return literal.size() >= 2 && literal.compare(literal.size() - 2, 2, "\\n") == 0;
}

TEST(LogTexts, NoTextGivenToTheLineFrontEndEndsInALineFeed) {
  const std::string root = ProjectRoot();
  std::vector<std::string> files;
  CollectSources(root + "\\Source", &files);
  CollectSources(root + "\\game", &files);
  ASSERT_GT(files.size(), 20u) << root;

  // Named texts: file-local names first (the same name may stand for
  // different texts in two files), then names shared through headers.
  std::map<std::pair<std::string, std::string>, std::string> localTexts;  // (file, name)
  std::map<std::string, std::string> texts;                               // name -> last literal
  std::map<std::string, std::string> sources;
  for (const std::string& file : files) {
    const std::string text = ReadText(file);
    sources[file] = text;
    for (size_t i = 0; (i = text.find('=', i)) != std::string::npos; ++i) {
      size_t after = i + 1;
      std::string literal;
      if (text[i + 1] == '=' || !ReadLiterals(text, &after, &literal)) continue;
      size_t end = i;
      while (end > 0 && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
      if (end >= 2 && text.compare(end - 2, 2, "[]") == 0) end -= 2;
      size_t begin = end;
      while (begin > 0 && IsNameChar(text[begin - 1])) --begin;
      if (begin < end) {
        texts[text.substr(begin, end - begin)] = literal;
        localTexts[{file, text.substr(begin, end - begin)}] = literal;
      }
    }
  }

  int checked = 0;
  for (const auto& entry : sources) {
    const std::string& text = entry.second;
    for (const char* call : {"LogPrintf(", "LogPrintfWide("}) {
      const size_t length = strlen(call);
      for (size_t i = 0; (i = text.find(call, i)) != std::string::npos; i += length) {
        if (i > 0 && IsNameChar(text[i - 1])) continue;
        size_t at = i + length;
        std::string literal;
        if (!ReadLiterals(text, &at, &literal)) {
          // A named text: checked where it is defined.
          at = SkipSpace(text, at);
          size_t end = at;
          while (end < text.size() && IsNameChar(text[end])) ++end;
          const std::string name = text.substr(at, end - at);
          const auto local = localTexts.find({entry.first, name});
          if (local != localTexts.end()) {
            literal = local->second;
          } else {
            const auto named = texts.find(name);
            if (named == texts.end()) continue;
            literal = named->second;
          }
        }
        ++checked;
        const size_t line = std::count(text.begin(), text.begin() + i, '\n') + 1;
        EXPECT_FALSE(EndsInLineFeed(literal)) << entry.first << ":" << line << ": \"" << literal << "\"";
      }
    }
  }
  EXPECT_GT(checked, 20);
}

// One case end to end: the archive layer's line comes out with one line end.
TEST(LogTexts, AnArchiveLineEndsOnce) {
  LogCapture log("logtexts");
  ASSERT_EQ(0, log.StartResult());
  unsigned char garbage[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ArchiveRecord record;
  EXPECT_EQ(-1, OpenArchiveFromMemory(&record, garbage, sizeof(garbage), nullptr));
  EXPECT_EQ("メモリ上のアーカイブを開けませんでした、壊れているか鍵が違います\r\n", log.Text());
}

}  // namespace
