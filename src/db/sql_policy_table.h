// The host's `Policy` table over a Qt SQL connection: an insert that only inserts when no row
// matches, or a locked read and an update by PolicyID, on statements prepared once; one
// statement per new row.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "context/policy_table.h"
#include "db/mysql_statement.h"

namespace quillmere {

class SqlPolicyTable : public PolicyTable {
 public:
  // `connection_name` names a QSqlDatabase connection; it is looked up when the table opens,
  // so the connection may be (re)opened after this object exists.
  explicit SqlPolicyTable(QString connection_name);

  // Prepares the table's statements on the connection, which checks that the table and every
  // column the posting writes are there. False with the driver's text otherwise.
  bool Open(std::string* error) override;
  // Drops the prepared statements. A later Post, Restore or Holds prepares them again.
  void Close() override;

  using PolicyTable::Post;
  // Matches AgyCode and PolNum byte for byte (case and trailing blanks count, whatever the
  // column collation) and PolSeq. A key this table has not posted before is inserted when no
  // row matches, in one statement. Otherwise the first matching row (lowest PolicyID) is read
  // with a row lock and updated by its PolicyID, without the three identifying columns.
  // Columns the posting does not write keep their values (update) or get the table's defaults
  // (insert). Outside Begin/Commit, the read and the update of an existing row run in a
  // transaction of their own, so `write->earlier` is what the update replaced.
  //
  // `write->earlier` of an updated row: the written columns, in the order the posting assigns
  // them, each as the server's own text of the stored value: a text column's stored bytes, a DOUBLE
  // as its shortest exact decimal ("0.30000000000000004",
  // "-1.7976931348623157e308"), a DATETIME as "YYYY-MM-DD hh:mm:ss", an INT as its digits.
  // Layout: "<count>:" then per column "-" for NULL, or "<length>=" and exactly that many
  // bytes. Three columns "  C001", NULL and "" give "3:6=  C001-0=".
  //
  // With `before` of the same key, row `before->policy_id` is updated in one statement that
  // matches it only while its written columns hold exactly what Post(before->row) wrote; then
  // `write->earlier` is "=" and the same layout of those values as this table binds them (text
  // as its bytes, a DOUBLE as its shortest exact decimal, a DATETIME as "YYYY-MM-DD hh:mm:ss"),
  // which Restore binds again as Post bound them. Where the row holds anything else, Post goes
  // on as without `before`.
  // On failure `*write` says nothing; requires `write` != nullptr.
  bool Post(const PolicyRow& row, const PostedBefore* before, PolicyWrite* write,
            std::string* error) override;
  // Deletes row `policy_id` (`inserted`) or writes `earlier` back into its written columns:
  // the server turns each value's text back into the column's type, so every value, NULL
  // included, is the one Post read. False with `*error` on a database failure, and on an
  // `earlier` that is not in the layout above for this table's columns (nothing changes).
  bool Restore(int64_t policy_id, bool inserted, const std::string& earlier,
               std::string* error) override;
  // Compares in the server, with the values bound exactly as Post binds them: text as bytes
  // (case and trailing blanks count), numbers, dates and times as the column types compare
  // them, NULL equal only to NULL. The three identifying columns must still match `row`
  // exactly too. Inside Begin/Commit the row is read with a row lock, so a Restore that
  // follows a true answer restores the row that was checked.
  bool Holds(int64_t policy_id, const PolicyRow& row, bool* holds, std::string* error) override;
  bool Exists(const PolicyRow& row, bool* exists, std::string* error) override;

  // The transaction starts with the first statement after Begin, so a line that posts no
  // Policy row costs no round trip, and Commit sends nothing for it. Commit opens the next
  // transaction with the same round trip (COMMIT AND CHAIN), so a run of posted lines sends no
  // BEGIN after its first; the chain ends at the first statement outside Begin/Commit, at a
  // Rollback, and at Close.
  bool Begin(std::string* error) override;
  bool Commit(std::string* error) override;
  void Rollback() override;

 private:
  QSqlDatabase Database() const;
  // Sends the transaction's BEGIN when Begin was called and nothing was sent since.
  bool StartTransaction(std::string* error);
  // Runs `attempt` until it succeeds, fails without a deadlock, or has been the victim of a
  // deadlock six times. `attempt` sets its `*deadlock` argument when the server chose it as
  // a deadlock's victim (which undoes the whole transaction).
  bool Retrying(const std::function<bool(bool* deadlock, std::string* error)>& attempt,
                std::string* error);
  // One attempt of Post.
  bool PostOnce(const PolicyRow& row, const PostedBefore* before, PolicyWrite* write,
                bool* deadlock, std::string* error);

  QString connection_name_;
  // The statements of every posted row run on the client library (one round trip each):
  // update_: by PolicyID (Post, Restore); insert_: when no row matches; select_: the first
  // matching row, locked; update_held_: by PolicyID while the row holds given values; exists_:
  // whether a row matches, unlocked (a preview asks it once per policy). The rare
  // ones stay Qt's: delete_: by PolicyID; holds_: row PolicyID, if it holds the values.
  MysqlStatement update_, insert_, select_, update_held_, exists_;
  std::optional<QSqlQuery> delete_, holds_;
  // True when the statements were prepared on the connection as it is now (a connection that
  // was opened again has a new handle).
  bool Ready() const;
  // Fingerprints of keys this table posted, one per slot (a later key may take the slot): a
  // row posted before is read first, a new one inserted first. Fixed size (1 MiB), so memory
  // does not grow with the file.
  static constexpr size_t kKnownSlots = 1 << 18;
  std::vector<uint32_t> known_;
  bool in_transaction_ = false;  // between Begin and Commit or Rollback
  bool started_ = false;         // the server's transaction is open (a statement was sent)
  bool worked_ = false;          // a statement of this transaction succeeded
  // The last Commit chained a new transaction, which holds nothing yet.
  bool chained_ = false;
  // Commits what ran outside Begin/Commit since the chain opened and goes back to autocommit.
  void EndChain();
};

}  // namespace quillmere
