#include "journal/policy_row_codec.h"

#include <bit>
#include <cstdint>

namespace quillmere {
namespace {

// Each field is its length in decimal, ":", then its bytes; numbers are written as text
// (doubles as their bit pattern), so the encoding is plain and exact.
class Writer {
 public:
  void Text(std::string_view text) {
    out_ += std::to_string(text.size());
    out_ += ':';
    out_ += text;
  }
  void Int(int64_t value) { Text(std::to_string(value)); }
  void Real(double value) { Int(static_cast<int64_t>(std::bit_cast<uint64_t>(value))); }
  void When(const DateTime& t) {
    When(t.date);
    Int(t.hour);
    Int(t.minute);
    Int(t.second);
  }
  void When(const Date& d) {
    Int(d.year);
    Int(d.month);
    Int(d.day);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : in_(bytes) {}
  void Text(std::string* out) {
    size_t length = 0;
    size_t i = 0;
    while (i < in_.size() && in_[i] >= '0' && in_[i] <= '9' && i < 12) {
      length = length * 10 + static_cast<size_t>(in_[i] - '0');
      ++i;
    }
    if (i == 0 || i >= in_.size() || in_[i] != ':' || in_.size() - i - 1 < length) {
      ok_ = false;
      in_ = {};
      return;
    }
    out->assign(in_.substr(i + 1, length));
    in_.remove_prefix(i + 1 + length);
  }
  void Int(int64_t* out) {
    std::string text;
    Text(&text);
    if (!ok_) return;
    try {
      size_t used = 0;
      *out = std::stoll(text, &used);
      if (used != text.size()) ok_ = false;
    } catch (const std::exception&) {
      ok_ = false;
    }
  }
  void Int(int* out) {
    int64_t value = 0;
    Int(&value);
    *out = static_cast<int>(value);
  }
  void Real(double* out) {
    int64_t bits = 0;
    Int(&bits);
    *out = std::bit_cast<double>(static_cast<uint64_t>(bits));
  }
  void When(DateTime* t) {
    When(&t->date);
    Int(&t->hour);
    Int(&t->minute);
    Int(&t->second);
  }
  void When(Date* d) {
    Int(&d->year);
    Int(&d->month);
    Int(&d->day);
  }
  bool done() const { return ok_ && in_.empty(); }

 private:
  std::string_view in_;
  bool ok_ = true;
};

// Every field, in one order for both directions.
template <typename Io, typename Row>
void Fields(Io& io, Row& r) {
  io.Text(r.AgyCode);
  io.Text(r.PolNum);
  io.Int(r.PolSeq);
  io.Text(r.CltNum);
  io.Text(r.CmpCode);
  io.Text(r.TrnCode);
  io.Text(r.ClsCode);
  io.Text(r.DptCode);
  io.Text(r.InvNum);
  io.When(r.EntryDate);
  io.When(r.PolicyDate);
  io.Int(r.Status);
  io.Int(r.PQBFlag);
  io.Int(r.CmpStatus);
  io.Real(r.CurrentPremium);
  io.Real(r.CurrentNonPremium);
  io.Real(r.TotalPremium);
  io.Real(r.TotalNonPremium);
  io.Text(r.NameInsuredCode);
  io.Int(r.PolicyTermMonths);
  io.Int(r.CancelMethod);
  io.Real(r.MinEarnedPrem);
  io.Real(r.UnearnedFactor);
  io.Real(r.ReturnPremium);
  io.Real(r.WrittenAmt);
  io.Text(r.CmpName);
  io.Int(r.StartRiskSeq);
  io.Int(r.CurRiskSeq);
  io.Text(r.PrdCode);
  io.Text(r.OprCode);
  io.Real(r.D_filler1);
  io.Real(r.D_filler2);
  io.Real(r.D_filler3);
  io.Int(r.EndorseNumber);
  io.Int(r.ActiveSeq);
  io.Text(r.TagDesc);
  io.Text(r.OverrideAnnualized);
}

// Adapters so that one field list serves both directions.
struct WriteIo {
  Writer w;
  void Text(const std::string& s) { w.Text(s); }
  void Int(int v) { w.Int(v); }
  void Real(double v) { w.Real(v); }
  void When(const DateTime& t) { w.When(t); }
  void When(const Date& d) { w.When(d); }
};
struct ReadIo {
  Reader r;
  void Text(std::string& s) { r.Text(&s); }
  void Int(int& v) { r.Int(&v); }
  void Real(double& v) { r.Real(&v); }
  void When(DateTime& t) { r.When(&t); }
  void When(Date& d) { r.When(&d); }
};

}  // namespace

std::string EncodePolicyRow(const PolicyRow& row) {
  WriteIo io;
  Fields(io, row);
  return io.w.Take();
}

std::optional<PolicyRow> DecodePolicyRow(std::string_view bytes) {
  ReadIo io{Reader(bytes)};
  PolicyRow row;
  Fields(io, row);
  if (!io.r.done()) return std::nullopt;
  return row;
}

}  // namespace quillmere
