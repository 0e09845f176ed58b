#include "import/csv_reader.h"

#include <unistd.h>

#include <cerrno>

#include "recfiles/encodings.h"

namespace quillmere {

std::string GetNextField(std::string* line) {
  std::string& l = *line;
  if (l.empty()) return "";
  if (l[0] == '"') {
    l.erase(0, 1);
    const size_t p = l.find('"');
    if (p == std::string::npos) {
      if (!l.empty()) l.erase(0, 1);
      return "";
    }
    std::string field = l.substr(0, p);
    l.erase(0, std::min(l.size(), p + 2));  // the field, its quote, and one character more
    return Trim(field);
  }
  const size_t p = l.find(',');
  std::string field;
  if (p == std::string::npos) {
    field = l;
  } else {
    field = l.substr(0, p);
    l.erase(0, p + 1);
  }
  return StripChar(field, '"');
}

static std::string UpperAZ(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

CsvRow ReadRow(std::string_view line_view) {
  std::string line(line_view);
  CsvRow row;
  row.gl = GetNextField(&line);
  (void)GetNextField(&line);  // Name
  row.sgl_as_written = GetNextField(&line);
  row.sgl = UpperAZ(row.sgl_as_written) == "NONE" ? "" : row.sgl_as_written;
  (void)GetNextField(&line);  // Normal
  row.dpt = UpperAZ(GetNextField(&line));
  const std::string before_amount = line;
  row.amount_quoted = !line.empty() && line[0] == '"';
  row.amount_unclosed = row.amount_quoted && line.find('"', 1) == std::string::npos;
  if (row.amount_unclosed) row.amount_unclosed_text = line;
  row.amount_field = GetNextField(&line);
  row.amount_text = CleanAmount(row.amount_field);
  // A seventh field: after an unquoted amount only when a comma ended it (otherwise the line
  // keeps repeating the amount); after a quoted one, whatever is left.
  row.has_next_field =
      row.amount_quoted ? !line.empty() : before_amount.find(',') != std::string::npos;
  if (row.has_next_field) row.next_field = GetNextField(&line);
  return row;
}

std::string CleanAmount(std::string_view amount_field) {
  std::string s(amount_field);
  for (char c : {'"', '\'', ',', '$'}) s = StripChar(s, c);
  s = Trim(s);
  return s.empty() ? "0" : s;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when every comma of `text` separates thousands: none after the decimal point, one to
// three digits before the first, exactly three between two and after the last.
//   "-$12,345.67", "1,234", "1234.5" yes; "1234,56", "1.234,50", "12,34,567", ",123" no.
bool CommasSeparateThousands(std::string_view text) {
  const size_t point = text.find('.');
  if (point != std::string_view::npos && text.find(',', point) != std::string_view::npos) {
    return false;
  }
  const std::string_view whole = text.substr(0, point);
  size_t comma = whole.find(',');
  if (comma == std::string_view::npos) return true;
  size_t lead = 0;  // the digits just before the first comma
  while (lead < comma && IsDigit(whole[comma - 1 - lead])) ++lead;
  if (lead == 0 || lead > 3) return false;
  while (comma != std::string_view::npos) {
    const size_t next = whole.find(',', comma + 1);
    const std::string_view group = whole.substr(
        comma + 1, next == std::string_view::npos ? std::string_view::npos : next - comma - 1);
    if (group.size() != 3 || !IsDigit(group[0]) || !IsDigit(group[1]) || !IsDigit(group[2])) {
      return false;
    }
    comma = next;
  }
  return true;
}

}  // namespace

std::optional<std::string> AmountTextProblem(const CsvRow& row) {
  if (row.amount_unclosed) {
    return "Amount without its closing quote (" + row.amount_unclosed_text + ")";
  }
  if (row.amount_quoted) {
    if (CommasSeparateThousands(row.amount_field)) return std::nullopt;
    return "Amount with a comma that is not a thousands separator (" + row.amount_field + ")";
  }
  // A decimal point or an exponent makes the amount whole: what follows is another field.
  const bool whole = row.amount_field.find_first_of(".eE") != std::string::npos;
  if (whole || !row.has_next_field || row.next_field.empty() || !IsDigit(row.next_field[0])) {
    return std::nullopt;
  }
  return "Amount split at a comma (" + row.amount_field + "," + row.next_field + ")";
}

CsvLineReader::CsvLineReader(int fd, int copy_fd, size_t chunk_size)
    : fd_(fd), copy_fd_(copy_fd), chunk_size_(chunk_size == 0 ? 1 : chunk_size) {}

bool CsvLineReader::Fill() {
  if (eof_ || failure_ != Failure::kNone) return false;
  // Drop the lines already returned; the part searched moves with the rest.
  buffer_.erase(0, pos_);
  scanned_ -= pos_;
  pos_ = 0;
  const size_t old_size = buffer_.size();
  buffer_.resize(old_size + chunk_size_);
  ssize_t n;
  while ((n = ::read(fd_, buffer_.data() + old_size, chunk_size_)) < 0 && errno == EINTR) {
  }
  if (n <= 0) {
    buffer_.resize(old_size);
    if (n < 0) {
      failure_ = Failure::kRead;
      failure_errno_ = errno;
    }
    eof_ = true;
    return false;
  }
  buffer_.resize(old_size + static_cast<size_t>(n));
  if (copy_fd_ >= 0) {
    const char* p = buffer_.data() + old_size;
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t written = ::write(copy_fd_, p, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failure_ = Failure::kCopyWrite;
        failure_errno_ = written < 0 ? errno : ENOSPC;
        return false;
      }
      p += written;
      left -= static_cast<size_t>(written);
    }
  }
  if (hash_ != nullptr) hash_->Update(std::string_view(buffer_.data() + old_size, n));
  size_ += static_cast<uint64_t>(n);
  return true;
}

bool CsvLineReader::NextLine(std::string* line) {
  if (scanned_ < pos_) scanned_ = pos_;
  for (;;) {
    const size_t nl = buffer_.find('\n', scanned_);
    if (nl != std::string::npos) {
      size_t end = nl;
      if (end > pos_ && buffer_[end - 1] == '\r') --end;
      line->assign(buffer_, pos_, end - pos_);
      pos_ = scanned_ = nl + 1;
      return true;
    }
    scanned_ = buffer_.size();
    if (!Fill()) {
      // A failed read or copy: the bytes after the last line end are not a whole line.
      if (failure_ != Failure::kNone) return false;
      if (pos_ < buffer_.size()) {
        line->assign(buffer_, pos_, std::string::npos);
        pos_ = scanned_ = buffer_.size();
        return true;
      }
      return false;
    }
  }
}

}  // namespace quillmere
