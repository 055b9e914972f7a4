#include "csv.h"

namespace rvx {

void appendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == field.npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

CsvReader::CsvReader(std::istream& in) : in_(in), buffer_(1 << 20) {}

bool CsvReader::fill() {
  in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  filled_ = static_cast<size_t>(in_.gcount());
  position_ = 0;
  return filled_ > 0;
}

int CsvReader::peek() {
  if (position_ == filled_ && !fill()) return -1;
  return static_cast<unsigned char>(buffer_[position_]);
}

int CsvReader::get() {
  const int c = peek();
  if (c >= 0) {
    ++position_;
    ++consumed_;
    if (c == '\n') ++line_;
  }
  return c;
}

bool CsvReader::next(std::vector<std::string>& fields) {
  if (!started_) {
    started_ = true;
    if (peek() == 0xEF) {
      get();
      if (get() != 0xBB || get() != 0xBF) throw CsvError(1, "the file starts with a broken byte-order mark");
    }
  }
  // Skip empty lines.
  for (;;) {
    const int c = peek();
    if (c == '\n') {
      get();
    } else if (c == '\r') {
      get();
      if (peek() == '\n') get();
    } else if (c < 0) {
      return false;
    } else {
      break;
    }
  }
  recordLine_ = line_;
  size_t count = 0;
  auto field = [&]() -> std::string& {
    if (count == fields.size()) fields.emplace_back();
    std::string& f = fields[count++];
    f.clear();
    return f;
  };
  std::string* current = &field();
  for (;;) {
    int c = get();
    if (c == '"' && current->empty()) {
      // Quoted field: runs to the quote that is not doubled.
      for (;;) {
        c = get();
        if (c < 0) throw CsvError(recordLine_, "a quoted field is not closed");
        if (c == '"') {
          if (peek() == '"') {
            get();
            current->push_back('"');
            continue;
          }
          break;
        }
        current->push_back(static_cast<char>(c));
      }
      c = get();
      if (c != ',' && c != '\r' && c != '\n' && c >= 0) {
        throw CsvError(line_, "a closing quote is followed by something other than a comma or a line end");
      }
    } else {
      while (c >= 0 && c != ',' && c != '\r' && c != '\n') {
        if (c == '"') throw CsvError(line_, "a double quote inside an unquoted field");
        current->push_back(static_cast<char>(c));
        c = get();
      }
    }
    if (c == ',') {
      current = &field();
      continue;
    }
    if (c == '\r' && peek() == '\n') get();
    break;
  }
  fields.resize(count);
  return true;
}

}  // namespace rvx
