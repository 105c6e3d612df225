#include "TestFiles.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <random>
#include <vector>

namespace test_support {

std::string NewTempFolder(const char* tag) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  static int serial = 0;
  std::string folder = std::string(temp) + "ridov_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(serial++);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

namespace {

// Shared folders this process named; removed when it ends (its death-test
// children only borrow them).
struct OwnedFolders {
  std::vector<std::string> folders;
  ~OwnedFolders() {
    for (const std::string& folder : folders) RemoveTree(folder);
  }
};

}  // namespace

std::string SharedTempFolder(const char* variable, const char* tag) {
  static OwnedFolders owned;
  char folder[MAX_PATH];
  if (GetEnvironmentVariableA(variable, folder, sizeof(folder)) == 0) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    snprintf(folder, sizeof(folder), "%sridov_%s_%lu", temp, tag, GetCurrentProcessId());
    SetEnvironmentVariableA(variable, folder);
    owned.folders.push_back(folder);
  }
  CreateDirectoryA(folder, nullptr);
  return folder;
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
      else DeleteFileA(path.c_str());
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(bytes.size(), written);
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(file);
  return bytes;
}

std::string ReadFileText(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<unsigned char> PatternBytes(size_t size, int seed) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + (i >> 9) + seed);
  return bytes;
}

std::vector<unsigned char> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> bytes(size);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(random() >> 24);
  return bytes;
}

}  // namespace test_support
