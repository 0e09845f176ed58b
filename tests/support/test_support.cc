#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "support/process.h"

namespace quillmere::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillmere-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_, old_->c_str(), 1);
  } else {
    ::unsetenv(name_);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::vector<std::string>> PythonCsvRows(const std::string& path) {
  // Each field comes back as "x" and its bytes in hex, so no byte of it needs escaping.
  const ProcessResult read =
      RunProgram({"python3", "-c",
                  "import csv, sys\n"
                  "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
                  "    for row in csv.reader(f, strict=True):\n"
                  "        print(','.join('x' + v.encode('latin-1').hex() for v in row))\n",
                  path});
  EXPECT_EQ(read.exit_code, 0) << read.output;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(read.output);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) {
      std::string bytes;
      for (size_t i = 1; i + 1 < cell.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(cell.substr(i, 2), nullptr, 16));
      }
      fields.push_back(bytes);
    }
    rows.push_back(fields);
  }
  return rows;
}

std::string InitStore(const std::filesystem::path& dir) {
  const std::string settings = (dir / "VELFILES.ini").string();
  WriteFile(settings, "[VelfilesNdx]\r\ndatapath=.\r\n");
  const std::string host = (dir / "zel.ini").string();
  // The library's initialisation opens an existing store only; a new one is made as
  // quillmere-recfile init makes it.
  EXPECT_EQ(OpenRecordStore(dir.string(), host, /*create=*/true), 0) << RecordStoreError();
  for (const StandardFile& f : kStandardFiles) {
    EXPECT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0) << f.name;
  }
  return settings;
}

void PutMaster(std::string_view kind, std::string_view agency, std::string_view code,
               std::string_view name, char ap_type, std::string_view sub_accounts) {
  rApRec rec;
  Blank(&rec);
  const std::string key = MasterKey(kind, agency, code);
  std::memcpy(&rec, key.data(), std::min<size_t>(key.size(), 16));
  SetField(rec.Name, name);
  rec.ApType[0] = ap_type;
  SetField(rec.v.gl.SubAccountsNum, sub_accounts);
  const int32_t handle = CBtrvOapi();
  ASSERT_EQ(btrOpen(handle, "", "ap", 1, 1, 0), 0);
  uint32_t length = kApRecLen;
  EXPECT_EQ(ReplaceByKey(handle, &rec, &length), 0);
  (void)btrClose(handle);
}

std::vector<std::string> DumpRecords(const std::string& name) {
  std::vector<std::string> records;
  std::vector<RecordFileInfo> files;
  EXPECT_EQ(btrListFiles(&files), 0);
  uint32_t record_length = 0;
  for (const auto& f : files) {
    if (f.name == name) record_length = f.record_length;
  }
  if (record_length == 0) return records;
  const int32_t handle = CBtrvOapi();
  if (btrOpen(handle, "", name.c_str(), 1, 1, 0) != 0) return records;
  std::string buffer(record_length, '\0');
  std::string key(256, '\0');
  uint32_t length = record_length;
  int16_t status = btrGetGreater(handle, buffer.data(), &length, key.data(), 0, 0);
  // A record whose key is all NUL bytes would be skipped; fixtures have none.
  while (status == 0) {
    records.push_back(buffer);
    length = record_length;
    status = btrGetNext(handle, buffer.data(), &length, 0);
  }
  (void)btrClose(handle);
  return records;
}

}  // namespace quillmere::testing
