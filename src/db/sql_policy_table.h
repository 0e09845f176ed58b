// The host's `Policy` table over a Qt SQL connection: an insert that only inserts when no row
// matches, or an update, on statements prepared once; usually one statement per posted row.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "context/policy_table.h"

namespace quillmere {

class SqlPolicyTable : public PolicyTable {
 public:
  // `connection_name` names a QSqlDatabase connection; it is looked up when the table opens,
  // so the connection may be (re)opened after this object exists.
  explicit SqlPolicyTable(QString connection_name);

  // Prepares the update and insert on the connection, which checks that the table and
  // every column the posting writes are there. False with the driver's text otherwise.
  bool Open(std::string* error) override;
  // Drops the prepared statements. A later Post prepares them again.
  void Close() override;
  // Matches AgyCode and PolNum byte for byte (case and trailing blanks count, whatever the
  // column collation) and PolSeq; updates the first such row without the three identifying
  // columns, or inserts a row with them. Columns the posting does not write keep their values
  // (update) or get the table's defaults (insert).
  bool Post(const PolicyRow& row, std::string* error) override;

  // The transaction starts with the first statement after Begin, so a line that posts no
  // Policy row costs no round trip, and Commit sends nothing for it.
  bool Begin(std::string* error) override;
  bool Commit(std::string* error) override;
  void Rollback() override;

 private:
  static uint64_t KeyHash(const PolicyRow& row);
  // One attempt of Post; `*deadlock` says whether the server chose it as a deadlock's victim.
  bool PostOnce(const PolicyRow& row, bool* deadlock, std::string* error);

  QString connection_name_;
  std::optional<QSqlQuery> update_, insert_;
  // Fingerprints of keys this table posted, one per slot (a later key may take the slot): a
  // row posted before is updated first, a new one inserted first. Fixed size (1 MiB), so memory
  // does not grow with the file.
  static constexpr size_t kKnownSlots = 1 << 18;
  std::vector<uint32_t> known_;
  bool in_transaction_ = false;  // between Begin and Commit or Rollback
  bool started_ = false;         // the server's transaction is open (a statement was sent)
  bool posted_ = false;          // a Post of this transaction succeeded
};

}  // namespace quillmere
