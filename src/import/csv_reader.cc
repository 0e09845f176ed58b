#include "import/csv_reader.h"

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

bool AmountSplitAtComma(const CsvRow& row) {
  if (row.amount_quoted || !row.has_next_field) return false;
  const std::string& next = row.next_field;
  // A thousands group: three digits, then the end, a decimal part, or nothing else.
  if (next.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    if (next[i] < '0' || next[i] > '9') return false;
  }
  if (next.size() > 3 && next[3] != '.') return false;
  for (size_t i = 4; i < next.size(); ++i) {
    if (next[i] < '0' || next[i] > '9') return false;
  }
  // The amount itself ends in a digit.
  const std::string& amount = row.amount_field;
  return !amount.empty() && amount.back() >= '0' && amount.back() <= '9';
}

CsvLineReader::~CsvLineReader() { Close(); }

bool CsvLineReader::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  buffer_.clear();
  pos_ = 0;
  eof_ = false;
  error_ = false;
  size_ = 0;
  hash_ = 14695981039346656037ull;
  return file_ != nullptr;
}

bool CsvLineReader::Fill() {
  if (eof_ || file_ == nullptr) return false;
  buffer_.erase(0, pos_);
  pos_ = 0;
  char chunk[1 << 16];
  const size_t n = std::fread(chunk, 1, sizeof chunk, file_);
  if (n == 0) {
    if (std::ferror(file_)) error_ = true;
    eof_ = true;
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    hash_ ^= static_cast<unsigned char>(chunk[i]);
    hash_ *= 1099511628211ull;
  }
  size_ += n;
  buffer_.append(chunk, n);
  return true;
}

bool CsvLineReader::NextLine(std::string* line) {
  for (;;) {
    const size_t nl = buffer_.find('\n', pos_);
    if (nl != std::string::npos) {
      size_t end = nl;
      if (end > pos_ && buffer_[end - 1] == '\r') --end;
      line->assign(buffer_, pos_, end - pos_);
      pos_ = nl + 1;
      return true;
    }
    if (!Fill()) {
      if (pos_ < buffer_.size()) {
        line->assign(buffer_, pos_, std::string::npos);
        pos_ = buffer_.size();
        return true;
      }
      return false;
    }
  }
}

void CsvLineReader::ReadToEnd() {
  while (Fill()) {
    pos_ = buffer_.size();
  }
}

void CsvLineReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace quillmere
