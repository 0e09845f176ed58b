// Plumbing of the fault tests: an agency whose control-account rows each name a party of their
// own, its balance sheet CSV, the records each row must leave in the store, and the paths of
// the programs they run (support/process.h runs them). Header-only: every fault test is a
// program of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/btrv_layout.h"
#include "support/process.h"
#include "support/test_support.h"

namespace quillmere::testing {

struct PlannedRow {
  std::string line;
  std::string gl;
  std::string je;   // 6 digits
  std::string inv;  // 6 digits; "" for an ordinary GL
};

// A CSV and the document numbers pass 2 gives each row when the numbering starts at kFirstJe
// and kFirstInv on a store without documents.
struct PlannedImport {
  std::string csv;  // header and rows, CR LF
  std::vector<PlannedRow> rows;
  static constexpr int kFirstJe = 100000;
  static constexpr int kFirstInv = 500000;
};

inline constexpr char kAgency[] = "01";

// Three characters from 0-9A-Z: Code36(0) == "000", Code36(37) == "011".
inline std::string Code36(int n) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string code(3, '0');
  for (int i = 2; i >= 0; --i, n /= 36) code[i] = kDigits[n % 36];
  return code;
}

// `rows` rows, every fourth an ordinary GL, the others cycling over the control accounts with a
// party of their own each, so no two rows share a policy number.
inline PlannedImport PlanImport(int rows) {
  static const char* const kOrdinary[] = {"1000", "4000", "5000"};
  static const char* const kControl[] = {"1120", "1130", "2110", "2120"};
  PlannedImport plan;
  plan.csv = "\"GL\",\"Name\",\"SubType\",\"Normal\",\"Dept\",\"Value\"\r\n";
  int control = 0;
  for (int i = 0; i < rows; ++i) {
    PlannedRow row;
    std::string sgl = "NONE";
    if (i % 4 == 3) {
      row.gl = kOrdinary[(i / 4) % 3];
    } else {
      row.gl = kControl[control % 4];
      sgl = row.gl == "1120" ? "C" + std::to_string(10000 + control) : Code36(control);
      row.inv = std::to_string(PlannedImport::kFirstInv + 1 + control);
      ++control;
    }
    row.je = std::to_string(PlannedImport::kFirstJe + 1 + i);
    const std::string amount = (i % 7 == 0 ? "-" : "") + std::to_string(1 + i * 37 % 9000) + "." +
                               std::to_string(10 + i % 90);
    row.line = row.gl + ",Row " + std::to_string(i) + "," + sgl + ",Debit," +
               (i % 2 == 0 ? "GA" : "01") + "," + amount;
    plan.csv += row.line + "\r\n";
    plan.rows.push_back(std::move(row));
  }
  return plan;
}

// Master records of agency "01" for PlanImport(rows) in a new store in `dir`, all in one
// transaction. The settings file gets `db_settings` (a [VelfilesNdx] section with the database
// keys, or "") and a datapath naming `dir`. Returns the settings file's path.
inline std::string MakeFaultAgency(const std::filesystem::path& dir, int rows,
                                   const std::string& db_settings) {
  const std::string settings = InitStore(dir);
  EXPECT_EQ(btrBeginTransaction(), 0);
  for (const char* gl : {"1000", "4000", "5000", "1120", "1130", "2110", "2120"}) {
    PutMaster(kGlKind, kAgency, gl, std::string("GL ") + gl, 'A', "000");
  }
  PutMaster(kDepartmentKind, kAgency, "GA", "General Agency");
  PutMaster(kDepartmentKind, kAgency, "01", "Personal Lines");
  for (int control = 0; control < rows; ++control) {
    // Appended: "C" + std::to_string(...) makes GCC 12 at -O3 warn falsely (-Wrestrict).
    PutMaster(kClientKind, kAgency, std::string("C").append(std::to_string(10000 + control)),
              "Client");
    PutMaster(kCompanyKind, kAgency, Code36(control), "Company", 'C');
    PutMaster(kProducerKind, kAgency, Code36(control), "Producer");
  }
  EXPECT_EQ(btrEndTransaction(), 0);
  WriteFile(settings, (db_settings.empty() ? "[VelfilesNdx]\n" : db_settings) +
                          "datapath=" + dir.string() + "\n");
  return settings;
}

// How many of a planned row's records the store holds, and how many it should.
struct RowState {
  int found = 0;
  int expected = 0;
  bool whole() const { return found == expected; }
  bool absent() const { return found == 0; }
};

// Counts, per planned row, its journal entry's line and description, and for a control
// account its invoice's lines (with the matching "D" line), four descriptions and its policy
// record. Needs the library initialised on the store.
inline std::vector<RowState> RowStates(const PlannedImport& plan) {
  std::map<std::string, int> jcki, desc, pol;  // by agency + type + number; pol by invoice
  for (const std::string& r : DumpRecords("jcki")) ++jcki[r.substr(0, 9)];
  for (const std::string& r : DumpRecords("desc")) ++desc[r.substr(0, 9)];
  for (const std::string& r : DumpRecords("pol")) {
    rPolRec rec;
    std::memcpy(&rec, r.data(), sizeof rec);
    ++pol[std::string(rec.InvNum, sizeof rec.InvNum)];
  }
  const auto count = [](const std::map<std::string, int>& m, const std::string& key) {
    const auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
  };
  std::vector<RowState> states;
  for (const PlannedRow& row : plan.rows) {
    RowState s;
    const std::string je = std::string(kAgency) + "J" + row.je;
    s.found = count(jcki, je) + count(desc, je);
    s.expected = 2;
    if (!row.inv.empty()) {
      const std::string inv = std::string(kAgency) + "I" + row.inv;
      s.found += count(jcki, inv) + count(desc, inv) + count(pol, row.inv);
      // Lines 000 (001 for company receivables) 100 200 300 500, the "D" line, 4 descriptions,
      // the policy.
      s.expected += (row.gl == "1130" ? 7 : 6) + 4 + 1;
    }
    states.push_back(s);
  }
  return states;
}

inline std::string CheckStore() {
  std::string report;
  (void)btrCheck(&report);
  return report;
}

// True once process `pid` is stopped (state T); false when it ended first.
inline bool WaitUntilStopped(pid_t pid) {
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  for (;;) {
    const std::string text = ReadFile(stat);
    const size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T') {
      return true;
    }
    if (text.empty()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline std::string CliPath() { return QUILLMERE_BINARY_DIR "/quillmere-cli"; }
inline std::string RecfilePath() { return QUILLMERE_BINARY_DIR "/quillmere-recfile"; }

// The one balances_*.txt in `dir` ("" when none).
inline std::string RunLogIn(const std::filesystem::path& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("balances_", 0) == 0) return entry.path().string();
  }
  return "";
}

// The row lines ("# GL [...") of a run log.
inline std::vector<std::string> RowLines(const std::string& log_path) {
  std::vector<std::string> rows;
  for (const std::string& line : ReadLines(log_path)) {
    if (line.rfind("# GL [", 0) == 0) rows.push_back(line);
  }
  return rows;
}

}  // namespace quillmere::testing
