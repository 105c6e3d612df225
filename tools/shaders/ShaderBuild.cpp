// Build-time shader compiler, run under Wine: reads a shader list, expands
// each family line into its variants, compiles or assembles every variant
// with d3dcompiler_47 (D3DCompile for HLSL, D3DAssemble for assembly) and
// writes the byte code into the output folders, or into code tables (a
// head of 16-bit sizes, then the code in head order; empty entries size 0).
//
//   shader_build <list> <source-folder> <output-folder>
//
// List lines (# starts a comment):
//   shader <folder> <name-pattern> <profile> <source> [NAME=value ...]
//   table <file> <entry-count>
//   entry <file> <index-pattern> <profile> <source> [NAME=value ...]
// A name pattern holds {VAR:low..high} and {VAR:word|word|...} fields and
// {=VAR} repeats; every combination is made, and each field is also passed
// to the source as the macro VAR (the number, or the word's index). An
// entry's index is decimal or "radixN:digits" in base N.
// Profiles ending in "_asm" are assembled (ps_2_0_asm), the rest compiled
// with entry point "main".
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Blob {  // ID3DBlob's vtable, enough for what we call
  struct Vtbl {
    HRESULT(WINAPI* QueryInterface)(Blob*, const IID*, void**);
    ULONG(WINAPI* AddRef)(Blob*);
    ULONG(WINAPI* Release)(Blob*);
    void*(WINAPI* GetBufferPointer)(Blob*);
    SIZE_T(WINAPI* GetBufferSize)(Blob*);
  } * vtbl;
};
struct Macro {
  const char* name;
  const char* value;
};
typedef HRESULT(WINAPI* CompileFn)(const void*, SIZE_T, const char*, const Macro*, void*, const char*, const char*,
                                   UINT, UINT, Blob**, Blob**);
typedef HRESULT(WINAPI* AssembleFn)(const void*, SIZE_T, const char*, const Macro*, void*, UINT, Blob**, Blob**);

CompileFn Compile;
AssembleFn Assemble;

std::string HostPath(const std::string& path) { return (!path.empty() && path[0] == '/') ? "Z:" + path : path; }

bool ReadText(const std::string& path, std::string* text) {
  FILE* f = fopen(HostPath(path).c_str(), "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  text->clear();
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  fclose(f);
  return true;
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(HostPath(path).c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

// One variant: its name, macro values and the word each field chose.
struct Variant {
  std::string name;
  std::vector<std::pair<std::string, std::string>> macros;
  std::map<std::string, std::string> words;
};

// Expands the fields of a pattern into every combination:
//   {VAR:low..high}   the numbers low..high (the macro is the number)
//   {VAR:w0|w1|...}   the words, empty ones too (the macro is the index)
//   {=VAR}            the word an earlier field VAR chose
bool Expand(const std::string& pattern, std::vector<Variant>* out) {
  out->assign(1, Variant());
  size_t at = 0;
  while (at < pattern.size()) {
    const size_t open = pattern.find('{', at);
    const std::string literal = pattern.substr(at, open == std::string::npos ? std::string::npos : open - at);
    for (Variant& v : *out) v.name += literal;
    if (open == std::string::npos) break;
    const size_t close = pattern.find('}', open);
    if (close == std::string::npos) return false;
    const std::string field = pattern.substr(open + 1, close - open - 1);
    at = close + 1;
    if (!field.empty() && field[0] == '=') {
      for (Variant& v : *out) {
        const auto word = v.words.find(field.substr(1));
        if (word == v.words.end()) return false;
        v.name += word->second;
      }
      continue;
    }
    const size_t colon = field.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string var = field.substr(0, colon);
    const std::string range = field.substr(colon + 1);
    std::vector<std::pair<std::string, std::string>> choices;  // word, macro value
    int low, high;
    char rest;
    if (sscanf(range.c_str(), "%d..%d%c", &low, &high, &rest) == 2) {
      if (low > high) return false;
      for (int i = low; i <= high; i++) choices.emplace_back(std::to_string(i), std::to_string(i));
    } else {
      size_t from = 0;
      for (int index = 0;; index++) {
        const size_t bar = range.find('|', from);
        const std::string word = range.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
        choices.emplace_back(word, std::to_string(index));
        if (bar == std::string::npos) break;
        from = bar + 1;
      }
    }
    std::vector<Variant> next;
    for (const Variant& v : *out) {
      for (const auto& choice : choices) {
        Variant w = v;
        w.name += choice.first;
        w.macros.emplace_back(var, choice.second);
        w.words[var] = choice.first;
        next.push_back(w);
      }
    }
    *out = next;
  }
  return true;
}

// A table entry's index: decimal, or "radixN:digits" in base N.
bool EntryIndex(const std::string& name, size_t* index) {
  int base = 10;
  std::string digits = name;
  if (name.compare(0, 5, "radix") == 0) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos) return false;
    base = atoi(name.substr(5, colon - 5).c_str());
    digits = name.substr(colon + 1);
  }
  if (base < 2 || base > 36 || digits.empty()) return false;
  char* end = nullptr;
  *index = strtoul(digits.c_str(), &end, base);
  return *end == '\0';
}

bool Build(const std::string& source, const std::string& sourceName, const std::string& profile,
           const std::vector<std::pair<std::string, std::string>>& macros, std::string* code) {
  std::vector<Macro> list;
  for (const auto& m : macros) list.push_back({m.first.c_str(), m.second.c_str()});
  list.push_back({nullptr, nullptr});
  Blob* blob = nullptr;
  Blob* errors = nullptr;
  HRESULT hr;
  const size_t suffix = profile.rfind("_asm");
  if (suffix != std::string::npos && suffix + 4 == profile.size()) {
    hr = Assemble(source.data(), source.size(), sourceName.c_str(), list.data(), nullptr, 0, &blob, &errors);
  } else {
    hr = Compile(source.data(), source.size(), sourceName.c_str(), list.data(), nullptr, "main", profile.c_str(), 0, 0,
                 &blob, &errors);
  }
  if (errors != nullptr) {
    fprintf(stderr, "%s: %.*s\n", sourceName.c_str(), static_cast<int>(errors->vtbl->GetBufferSize(errors)),
            static_cast<const char*>(errors->vtbl->GetBufferPointer(errors)));
    errors->vtbl->Release(errors);
  }
  if (FAILED(hr) || blob == nullptr) return false;
  code->assign(static_cast<const char*>(blob->vtbl->GetBufferPointer(blob)), blob->vtbl->GetBufferSize(blob));
  blob->vtbl->Release(blob);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: shader_build <list> <source-folder> <output-folder>\n");
    return 2;
  }
  HMODULE compiler = LoadLibraryA("d3dcompiler_47.dll");
  if (compiler == nullptr) {
    fprintf(stderr, "shader_build: d3dcompiler_47.dll not found\n");
    return 1;
  }
  Compile = reinterpret_cast<CompileFn>(GetProcAddress(compiler, "D3DCompile"));
  Assemble = reinterpret_cast<AssembleFn>(GetProcAddress(compiler, "D3DAssemble"));
  if (Compile == nullptr || Assemble == nullptr) {
    fprintf(stderr, "shader_build: D3DCompile or D3DAssemble missing\n");
    return 1;
  }
  const std::string sourceFolder = argv[2];
  const std::string outFolder = argv[3];
  std::string listText;
  if (!ReadText(argv[1], &listText)) {
    fprintf(stderr, "shader_build: cannot read %s\n", argv[1]);
    return 1;
  }
  std::map<std::string, std::vector<std::string>> tables;  // file -> code by entry
  std::istringstream lines(listText);
  std::string line;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    lineNumber++;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string kind;
    if (!(words >> kind)) continue;
    std::string folder, pattern, profile, sourceName;
    if (kind == "table") {
      size_t count = 0;
      words >> folder >> count;
      tables[folder].assign(count, std::string());
      continue;
    }
    if (kind == "shader" || kind == "entry") {
      words >> folder >> pattern >> profile >> sourceName;
    } else {
      fprintf(stderr, "%s:%d: unknown line kind %s\n", argv[1], lineNumber, kind.c_str());
      return 1;
    }
    if (sourceName.empty()) {
      fprintf(stderr, "%s:%d: incomplete line\n", argv[1], lineNumber);
      return 1;
    }
    std::vector<std::pair<std::string, std::string>> fixed;
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      fixed.emplace_back(word.substr(0, eq), eq == std::string::npos ? "1" : word.substr(eq + 1));
    }
    std::string source;
    if (!ReadText(sourceFolder + "/" + sourceName, &source)) {
      fprintf(stderr, "%s:%d: cannot read %s\n", argv[1], lineNumber, sourceName.c_str());
      return 1;
    }
    std::vector<Variant> variants;
    if (!Expand(pattern, &variants)) {
      fprintf(stderr, "%s:%d: bad pattern %s\n", argv[1], lineNumber, pattern.c_str());
      return 1;
    }
    for (Variant& v : variants) {
      v.macros.insert(v.macros.end(), fixed.begin(), fixed.end());
      std::string code;
      if (!Build(source, sourceName, profile, v.macros, &code)) {
        fprintf(stderr, "%s:%d: %s failed\n", argv[1], lineNumber, v.name.c_str());
        return 1;
      }
      if (kind == "shader") {
        CreateDirectoryA(HostPath(outFolder + "/" + folder).c_str(), nullptr);
        if (!WriteBytes(outFolder + "/" + folder + "/" + v.name, code.data(), code.size())) {
          fprintf(stderr, "shader_build: cannot write %s\n", v.name.c_str());
          return 1;
        }
      } else {
        std::vector<std::string>& table = tables[folder];
        size_t entry = 0;
        if (!EntryIndex(v.name, &entry) || entry >= table.size() || code.size() > 0xFFFF) {
          fprintf(stderr, "%s:%d: entry %s outside table %s or too large\n", argv[1], lineNumber, v.name.c_str(),
                  folder.c_str());
          return 1;
        }
        table[entry] = code;
      }
    }
  }
  for (const auto& table : tables) {
    std::string block;
    for (const std::string& code : table.second) {
      const uint16_t size = static_cast<uint16_t>(code.size());
      block.append(reinterpret_cast<const char*>(&size), 2);
    }
    for (const std::string& code : table.second) block += code;
    if (!WriteBytes(outFolder + "/" + table.first, block.data(), block.size())) {
      fprintf(stderr, "shader_build: cannot write %s\n", table.first.c_str());
      return 1;
    }
  }
  return 0;
}
