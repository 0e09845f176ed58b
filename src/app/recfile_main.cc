// quillmere-recfile: maintenance of the record-file store (create, load, dump, list, check).

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/version.h"
#include "journal/run_journal.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/btrv_layout.h"
#include "recfiles/encodings.h"
#include "recfiles/record_lines.h"
#include "recfiles/record_store.h"
#include "recfiles/regular_file.h"

namespace quillmere {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    R"(usage: quillmere-recfile (--dir DATADIR | --settings FILE) [--host FILE] COMMAND
       quillmere-recfile --help | --version

  --dir DATADIR    the data directory holding recfiles.sqlite
  --settings FILE  a data-directory settings file, used as given (relative to the working
                   folder): key datapath of section [VelfilesNdx], relative to the file's
                   folder (absent: the file's folder)
  --host FILE      the host settings file to report (kept, not read)
  -h, --help       this text
  --version        the version line

commands:
  init                               create the store and the six standard files:
                                     ap 150/16, extap 138/16, jcki 99/14, desc 64/11,
                                     trans.ndx 64/8, pol 120/25 (record/key length)
  create NAME --reclen N --keylen K  create one record file in an existing store
  list                               files, record length, key length, record count
  load NAME FILE [--hex]             store the records of FILE ("-": standard input) with
                                     replace-by-key, all in one transaction: on any error
                                     nothing is loaded
  dump NAME [--hex] [--from KEY]     write the records in key order, one per line (LF),
                                     from the first whose key is KEY or greater (KEY as text,
                                     or hex digits with --hex; zero bytes fill it to the key
                                     length)
  check                              integrity check of the store; exit 0 when ok

record lines: a raw line is exactly the record length in bytes, then LF or CR LF (the last
line too); lines are read by length, so a record may hold any byte, CR and LF included. A --hex
line is twice the record length in hex digits, then LF or CR LF.

exit status: 0 done; 1 failed (message on standard error); 2 wrong usage.
)";

struct Command {
  std::string dir, settings, host;
  std::vector<std::string> words;  // command and its operands
  bool hex = false;
  std::string from;
  bool has_from = false;
  long long reclen = -1, keylen = -1;
};

int Fail(const std::string& message) {
  std::cerr << "quillmere-recfile: " << message << "\n";
  return kExitFailure;
}

int Usage(const std::string& message) {
  std::cerr << "quillmere-recfile: " << message << "\n\n" << kUsage;
  return kExitUsage;
}

bool ParseCount(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::stoll(text);
  return true;
}

// The file's record and key length, or false when the store has no such file.
bool FindFile(const std::string& name, RecordFileInfo* info) {
  std::vector<RecordFileInfo> files;
  if (btrListFiles(&files) != 0) return false;
  for (const RecordFileInfo& f : files) {
    if (AsciiLower(f.name) == AsciiLower(name)) {
      *info = f;
      return true;
    }
  }
  return false;
}

int RunInit() {
  int created = 0;
  for (const StandardFile& f : kStandardFiles) {
    const int16_t status = btrCreateFile(f.name, f.record_length, f.key_length);
    if (status == kStatusOk) {
      ++created;
    } else if (status == kStatusDuplicateKey) {
      std::cerr << "quillmere-recfile: " << f.name << " exists; left as it is\n";
    } else {
      return Fail("cannot create " + std::string(f.name) + ", status is " + std::to_string(status));
    }
  }
  std::cout << "created " << created << " record file(s) in " << btrDataDirectory() << "\n";
  return 0;
}

int RunCreate(const Command& cmd) {
  if (cmd.words.size() != 2 || cmd.reclen < 0 || cmd.keylen < 0) {
    return Usage("create needs NAME --reclen N --keylen K");
  }
  const std::string& name = cmd.words[1];
  const int16_t status = btrCreateFile(name.c_str(), static_cast<uint32_t>(cmd.reclen),
                                       static_cast<uint32_t>(cmd.keylen));
  if (status == kStatusDuplicateKey) return Fail("record file " + name + " exists already");
  if (status == kStatusBufferTooShort) {
    return Fail("record length " + std::to_string(cmd.reclen) + " and key length " +
                std::to_string(cmd.keylen) +
                " do not fit (both at least 1, the key no longer than the record)");
  }
  if (status != kStatusOk) {
    return Fail("cannot create " + name + ", status is " + std::to_string(status));
  }
  return 0;
}

int RunList() {
  std::vector<RecordFileInfo> files;
  if (const int16_t status = btrListFiles(&files); status != kStatusOk) {
    return Fail("cannot list the record files, status is " + std::to_string(status));
  }
  std::cout << "data directory: " << btrDataDirectory() << "\n";
  if (!btrHostSettingsPath().empty())
    std::cout << "host settings: " << btrHostSettingsPath() << "\n";
  std::cout << "name\trecord_length\tkey_length\trecords\n";
  for (const RecordFileInfo& f : files) {
    std::cout << f.name << "\t" << f.record_length << "\t" << f.key_length << "\t" << f.record_count
              << "\n";
  }
  return 0;
}

int RunLoad(const Command& cmd) {
  if (cmd.words.size() != 3) return Usage("load needs NAME FILE");
  const std::string& name = cmd.words[1];
  const std::string& path = cmd.words[2];
  RecordFileInfo info;
  if (!FindFile(name, &info)) return Fail("no record file " + name + " in " + btrDataDirectory());
  std::string data;
  if (path == "-") {
    data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) return Fail("cannot read standard input; nothing loaded");
  } else if (std::string error; !ReadRegularFile(path, &data, &error)) {
    return Fail("cannot read " + path + ": " + error + "; nothing loaded");
  }
  std::vector<std::string> records;
  std::string error;
  if (!ParseRecordLines(data, info.record_length, cmd.hex, &records, &error)) {
    return Fail(path + ": " + error + "; nothing loaded");
  }
  const int32_t handle = CBtrvOapi();
  if (const int16_t status = btrOpen(handle, "", name.c_str(), 1, 1, 0); status != kStatusOk) {
    return Fail("cannot open " + name + ", status is " + std::to_string(status));
  }
  if (const int16_t status = btrBeginTransaction(); status != kStatusOk) {
    return Fail("cannot begin the load, status is " + std::to_string(status) +
                (status == kStatusLocked ? " (the store is locked by another process)" : ""));
  }
  for (size_t i = 0; i < records.size(); ++i) {
    uint32_t length = info.record_length;
    if (const int16_t status = ReplaceByKey(handle, records[i].data(), &length);
        status != kStatusOk) {
      (void)btrAbortTransaction();
      return Fail(path + ": line " + std::to_string(i + 1) +
                  ": cannot store the record, status is " + std::to_string(status) +
                  "; nothing loaded");
    }
  }
  if (const int16_t status = btrEndTransaction(); status != kStatusOk) {
    (void)btrAbortTransaction();
    return Fail("cannot commit the load, status is " + std::to_string(status) + "; nothing loaded");
  }
  (void)btrClose(handle);
  std::cerr << "loaded " << records.size() << " record(s) into " << name << "\n";
  return 0;
}

int RunDump(const Command& cmd) {
  if (cmd.words.size() != 2) return Usage("dump needs NAME");
  const std::string& name = cmd.words[1];
  RecordFileInfo info;
  if (!FindFile(name, &info)) return Fail("no record file " + name + " in " + btrDataDirectory());
  std::string key(info.key_length, '\0');
  if (cmd.has_from) {
    std::string from = cmd.from;
    if (cmd.hex) {
      std::optional<std::string> bytes = HexDecode(cmd.from);
      if (!bytes) return Fail("--from " + cmd.from + ": not hex digits");
      from = *bytes;
    }
    key.replace(0, std::min(from.size(), key.size()), from.substr(0, key.size()));
  }
  const int32_t handle = CBtrvOapi();
  if (const int16_t status = btrOpen(handle, "", name.c_str(), 1, 1, 0); status != kStatusOk) {
    return Fail("cannot open " + name + ", status is " + std::to_string(status));
  }
  std::string record(info.record_length, '\0');
  uint32_t length = info.record_length;
  int16_t status = btrGetEqual(handle, record.data(), &length, key.data(), 0, 0);
  if (status == kStatusKeyNotFound) {
    length = info.record_length;
    status = btrGetGreater(handle, record.data(), &length, key.data(), 0, 0);
  }
  while (status == kStatusOk) {
    if (cmd.hex) {
      std::cout << HexEncode(record) << '\n';
    } else {
      std::cout.write(record.data(), static_cast<std::streamsize>(record.size())) << '\n';
    }
    length = info.record_length;
    status = btrGetNext(handle, record.data(), &length, 0);
  }
  (void)btrClose(handle);
  std::cout.flush();
  if (status != kStatusEndOfFile) {
    return Fail("reading " + name + " failed, status is " + std::to_string(status));
  }
  if (!std::cout) return Fail("cannot write the dump");
  return 0;
}

int RunCheck() {
  std::string report;
  const int16_t status = btrCheck(&report);
  if (status == kStatusOk) {
    // Rows whose Policy change is not confirmed leave the two stores apart until a start of
    // quillmere or quillmere-cli completes them.
    RunJournal journal;
    const std::vector<JournalRun> pending = journal.RunsToRecover();
    if (!journal.error().empty()) return Fail(journal.error());
    if (!pending.empty()) {
      std::string runs;
      for (const JournalRun& run : pending) {
        runs += "\n  run " + std::to_string(run.id) + " (" + run.csv_name + ", agency " +
                run.agency + "): " +
                (run.undo_pending ? std::string("its undo's Policy restore")
                                  : std::to_string(run.unconfirmed) + " unconfirmed row(s)");
      }
      return Fail(
          "recovery pending: the run journal holds work whose Policy part is not "
          "confirmed; start quillmere or quillmere-cli to complete it" +
          runs);
    }
    std::cout << report << "\n";
    return 0;
  }
  return Fail("check failed, status is " + std::to_string(status) + ":\n" + report);
}

int Main(int argc, char** argv) {
  // Answered wherever they stand, before any other argument is judged: they need no store. An
  // option's value is skipped, so "--from -h" still dumps from the key "-h".
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" || arg == "--settings" || arg == "--host" || arg == "--from" ||
        arg == "--reclen" || arg == "--keylen") {
      ++i;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << VersionLine("quillmere-recfile") << "\n";
      return 0;
    }
  }
  Command cmd;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--dir") {
      if (!value(&cmd.dir)) return Usage("--dir needs a folder");
    } else if (arg == "--settings") {
      if (!value(&cmd.settings)) return Usage("--settings needs a file");
    } else if (arg == "--host") {
      if (!value(&cmd.host)) return Usage("--host needs a file");
    } else if (arg == "--hex") {
      cmd.hex = true;
    } else if (arg == "--from") {
      if (!value(&cmd.from)) return Usage("--from needs a key");
      cmd.has_from = true;
    } else if (arg == "--reclen") {
      if (!value(&text) || !ParseCount(text, &cmd.reclen)) return Usage("--reclen needs a number");
    } else if (arg == "--keylen") {
      if (!value(&text) || !ParseCount(text, &cmd.keylen)) return Usage("--keylen needs a number");
    } else if (arg.starts_with("--")) {
      return Usage("unknown option " + arg);
    } else {
      cmd.words.push_back(arg);
    }
  }
  if (cmd.dir.empty() == cmd.settings.empty()) return Usage("give either --dir or --settings");
  if (cmd.words.empty()) return Usage("no command");
  const std::string& verb = cmd.words[0];
  if (verb != "init" && verb != "create" && verb != "list" && verb != "load" && verb != "dump" &&
      verb != "check") {
    return Usage("unknown command " + verb);
  }
  if ((verb == "init" || verb == "list" || verb == "check") && cmd.words.size() != 1) {
    return Usage(verb + " takes no operands");
  }
  const std::string dir = cmd.dir.empty() ? DataDirectoryFromSettings(cmd.settings) : cmd.dir;
  const bool create = verb == "init";  // the one command that makes a store
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error)) return Fail("no data directory " + dir);
  if (!create &&
      !std::filesystem::exists(std::filesystem::path(dir) / kRecordStoreFileName, error)) {
    return Fail("no record-file store in " + dir + " (" + kRecordStoreFileName +
                " is missing; quillmere-recfile init creates one)");
  }
  if (const int16_t status = OpenRecordStore(dir, cmd.host, create); status != kStatusOk) {
    return Fail("cannot open the store in " + dir + ": " + RecordStoreError() + ", status is " +
                std::to_string(status));
  }
  if (verb == "init") return RunInit();
  if (verb == "create") return RunCreate(cmd);
  if (verb == "list") return RunList();
  if (verb == "load") return RunLoad(cmd);
  if (verb == "dump") return RunDump(cmd);
  return RunCheck();
}

}  // namespace
}  // namespace quillmere

int main(int argc, char** argv) { return quillmere::Main(argc, argv); }
