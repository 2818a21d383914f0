#include "source/text/text_source.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/error.h"
#include "core/paths.h"
#include "core/text.h"
#include "source/rows_ahead.h"
#include "source/sheet_table.h"
#include "source/text/encoding.h"

namespace qm::source {

namespace fs = std::filesystem;

std::string not_a_valid_path_message(const std::string& folder) {
  return "'" + folder +
         "' is not a valid path. Make sure that the path name is spelled correctly and that "
         "you are connected to the server on which the file resides.";
}

// ---- schema.ini -------------------------------------------------------------------------

std::optional<SchemaSection> parse_schema_ini(std::string_view ini, std::string_view fileName) {
  std::optional<SchemaSection> out;
  bool inSection = false;
  std::size_t i = 0;
  while (i < ini.size()) {
    std::size_t j = ini.find_first_of("\r\n", i);
    if (j == std::string_view::npos) j = ini.size();
    std::string line = trim(ini.substr(i, j - i));
    i = j + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      auto close = line.find(']');
      std::string name =
          trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = iequals(name, fileName);
      if (inSection && !out) out.emplace();
      continue;
    }
    if (!inSection) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(line.substr(0, eq));
    std::string value = trim(line.substr(eq + 1));
    if (iequals(key, "Format")) {
      if (iequals(value, "CSVDelimited")) {
        out->delimiter = ',';
      } else if (iequals(value, "TabDelimited")) {
        out->delimiter = '\t';
      } else if (value.size() >= 11 && iequals(value.substr(0, 10), "Delimited(") &&
                 value.back() == ')') {
        std::string inner = value.substr(10, value.size() - 11);
        // "Delimited( )" is a space; otherwise the one character between the parentheses.
        if (inner.size() == 1)
          out->delimiter = inner[0];
        else if (inner.empty())
          out->delimiter = ' ';
        else
          out->unsupported = "Format=" + value;
      } else {
        out->unsupported = "Format=" + value;
      }
    } else if (iequals(key, "ColNameHeader")) {
      out->colNameHeader = iequals(value, "True") || value == "1" || iequals(value, "Yes");
    } else if (iequals(key, "CharacterSet")) {
      long long cp = 0;
      if (iequals(value, "ANSI"))
        out->codepage = 1252;
      else if (iequals(value, "OEM"))
        out->codepage = 437;
      else if (iequals(value, "UTF-8") || iequals(value, "UTF8"))
        out->codepage = kUtf8;
      else if (try_str_to_int(value, cp) &&
               (cp == kUtf8 || codepage_supported(static_cast<int>(cp))))
        out->codepage = static_cast<int>(cp);
      else
        out->unsupported = "CharacterSet=" + value;
    }
  }
  return out;
}

namespace {

std::string read_small_file(const std::string& path, std::size_t limit) {
  std::ifstream in(to_fs_path(path), std::ios::binary);
  std::string s(limit, '\0');
  in.read(s.data(), static_cast<std::streamsize>(limit));
  s.resize(static_cast<std::size_t>(in.gcount()));
  return s;
}

}  // namespace

std::optional<SchemaSection> find_schema_section(const std::string& path) {
  std::string ini = resolve_path(join_path(folder_of(path), "schema.ini"));
  std::error_code ec;
  if (!fs::is_regular_file(to_fs_path(ini), ec)) return std::nullopt;
  return parse_schema_ini(read_small_file(ini, 1 << 20), file_name_of(path));
}

// ---- detection --------------------------------------------------------------------------

char detect_delimiter(std::string_view head) {
  static const char kCandidates[] = {'\t', ';', ',', '|'};
  // Counts per line outside quotes, for up to 20 whole lines.
  std::vector<std::array<int, 4>> lines;
  std::array<int, 4> cur{};
  bool quoted = false;
  for (std::size_t i = 0; i < head.size() && lines.size() < 20; ++i) {
    char c = head[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < head.size() && head[i + 1] == '\n') ++i;
      lines.push_back(cur);
      cur = {};
      continue;
    }
    for (int k = 0; k < 4; ++k)
      if (c == kCandidates[k]) ++cur[k];
  }
  if (lines.empty()) lines.push_back(cur);  // one line without an end
  int best = -1, bestCount = 0;
  for (int k = 0; k < 4; ++k) {
    int n = lines[0][k];
    if (n == 0) continue;
    bool even = std::all_of(lines.begin(), lines.end(), [&](const auto& l) { return l[k] == n; });
    if (even && n > bestCount) best = k, bestCount = n;
  }
  if (best >= 0) return kCandidates[best];
  long totals[4] = {0, 0, 0, 0};
  for (const auto& l : lines)
    for (int k = 0; k < 4; ++k) totals[k] += l[k];
  long top = 0;
  for (int k = 0; k < 4; ++k)
    if (totals[k] > top) top = totals[k], best = k;
  return best >= 0 ? kCandidates[best] : ',';
}

int detect_codepage(std::string_view head) {
  if (head.size() >= 3 && head.compare(0, 3, "\xEF\xBB\xBF") == 0) return kUtf8;
  return valid_utf8(head, true) ? kUtf8 : 1252;
}

// ---- the row reader ---------------------------------------------------------------------

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::size_t kMaxRowBytes = 16u << 20;

// A UTF-16 file read as the UTF-8 it stands for, after its byte order mark. It seeks back to
// its start only, which is all the row reader asks of it.
class Utf16Buffer : public std::streambuf {
 public:
  Utf16Buffer(std::unique_ptr<std::istream> in, bool bigEndian)
      : in_(std::move(in)), bigEndian_(bigEndian), decoder_(bigEndian), raw_(1 << 16) {
    restart();
  }

 protected:
  int_type underflow() override {
    while (gptr() == egptr()) {
      if (done_) return traits_type::eof();
      in_->read(raw_.data(), static_cast<std::streamsize>(raw_.size()));
      std::size_t n = static_cast<std::size_t>(in_->gcount());
      out_.clear();
      if (n == 0) {
        decoder_.finish(out_);
        done_ = true;
      } else {
        decoder_.decode(std::string_view(raw_.data(), n), out_);
      }
      setg(out_.data(), out_.data(), out_.data() + out_.size());
    }
    return traits_type::to_int_type(*gptr());
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (off != 0 || dir != std::ios_base::beg) return pos_type(off_type(-1));
    restart();
    return pos_type(0);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override {
    return seekoff(off_type(pos), std::ios_base::beg, mode);
  }

 private:
  void restart() {
    in_->clear();
    in_->seekg(2);
    decoder_ = Utf16Decoder(bigEndian_);
    done_ = false;
    out_.clear();
    setg(nullptr, nullptr, nullptr);
  }

  std::unique_ptr<std::istream> in_;
  bool bigEndian_;
  Utf16Decoder decoder_;
  std::vector<char> raw_;
  std::string out_;
  bool done_ = false;
};

class Utf16Stream : public std::istream {
 public:
  Utf16Stream(std::unique_ptr<std::istream> in, bool bigEndian)
      : std::istream(nullptr), buffer_(std::move(in), bigEndian) {
    rdbuf(&buffer_);
  }

 private:
  Utf16Buffer buffer_;
};

// The first bytes of a file, as UTF-8 when it is a UTF-16 file.
std::string text_head(const std::string& path, std::size_t limit) {
  std::string head = read_small_file(path, limit);
  if (int bom = utf16_bom(head)) {
    std::string out;
    Utf16Decoder(bom == 2).decode(std::string_view(head).substr(2), out);
    return out;
  }
  return head;
}

class TextRowReader : public RowReader {
 public:
  TextRowReader(std::unique_ptr<std::istream> in, TextFormat format, std::string fileName)
      : in_(std::move(in)), format_(format), fileName_(std::move(fileName)), buf_(kBufferSize) {
    // A UTF-16 file says so in its first two bytes, whatever a schema says of its code page.
    char mark[2] = {};
    in_->read(mark, 2);
    if (int bom = utf16_bom(std::string_view(mark, static_cast<std::size_t>(in_->gcount())))) {
      in_ = std::make_unique<Utf16Stream>(std::move(in_), bom == 2);
      format_.codepage = kUtf8;
    }
    in_->clear();
    in_->seekg(0);
    stop_[static_cast<unsigned char>(format_.delimiter)] = true;
    delimWord_ = kOnes * static_cast<unsigned char>(format_.delimiter);
    delim_ = format_.delimiter;
    stop_[static_cast<unsigned char>('\r')] = stop_[static_cast<unsigned char>('\n')] = true;
    if (format_.codepage == 0) {
      std::string head(64 * 1024, '\0');
      in_->read(head.data(), static_cast<std::streamsize>(head.size()));
      head.resize(static_cast<std::size_t>(in_->gcount()));
      format_.codepage = detect_codepage(head);
    }
    rewind();
  }

  void rewind() override {
    in_->clear();
    in_->seekg(0);
    pos_ = len_ = 0;
    eof_ = false;
    row_ = 0;
    nuls_ = firstNulRow_ = 0;
    // A UTF-8 byte order mark is not part of the first value.
    if (fill() && len_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }

  bool nextRow(std::vector<Cell>& cells) override {
    if (pos_ == len_ && !fill()) return false;
    ++row_;
    rowBytes_ = 0;
    if (split_whole_row(cells)) return true;
    std::size_t n = 0;
    int column = 0;
    const char delim = format_.delimiter;
    for (;;) {
      ++column;
      std::string* t = &scratch_;
      if (n < static_cast<std::size_t>(kMaxColumns) + 1) {
        if (n == cells.size()) cells.emplace_back();
        Cell& cell = cells[n++];
        cell.kind = Cell::Kind::Empty;
        cell.text.clear();
        t = &cell.text;
      } else {
        scratch_.clear();
      }
      // A value starts with a byte in the buffer (the row's first byte, or the one after a
      // delimiter, checked below). What its plain part holds is told by its scan, so only a
      // quoted value needs a pass of its own; most values are ASCII without a NUL.
      int c;
      unsigned kinds;
      if (buf_[pos_] == '"') {
        ++pos_;
        c = read_quoted(*t, column);
        if (c >= 0 && c != delim && c != '\r' && c != '\n') {
          // Text after the closing quote belongs to the value; c is just before pos_.
          --pos_;
          std::uint64_t any = 0;
          bool nul = false;
          c = read_plain(*t, column, any, nul);
        }
        kinds = byte_kinds(*t);
      } else {
        std::uint64_t any = 0;
        bool nul = false;
        c = read_plain(*t, column, any, nul);
        kinds = kinds_of(any, nul);
      }
      if (t != &scratch_) {
        if (kinds & kHighBytes) decode_in_place(*t, format_.codepage);
        // A code page maps no byte but NUL to U+0000, so the decoding adds none.
        if (kinds & kNulBytes) drop_nuls(*t);
        if (!t->empty()) cells[n - 1].kind = Cell::Kind::Text;
      }
      if (c == delim) {
        c = peek();
        if (c < 0 || c == '\r' || c == '\n') {
          // A delimiter at the end of the line leaves one more, empty, value.
          if (n == cells.size()) cells.emplace_back();
          cells[n].kind = Cell::Kind::Empty;
          cells[n].text.clear();
          ++n;
          if (c >= 0) ++pos_;
          end_line(c);
          break;
        }
        continue;
      }
      end_line(c);
      break;
    }
    cells.resize(n);
    return true;
  }

  // The reader owns its stream and shares nothing: it may go on on another thread.
  bool prepareForThread() override { return true; }

  std::vector<std::string> notes() const override {
    if (nuls_ == 0) return {};
    return {fileName_ + ": " + std::to_string(nuls_) +
            (nuls_ == 1 ? " NUL byte was" : " NUL bytes were") +
            " left out of its values (the first in row " + std::to_string(firstNulRow_) +
            "), as a text field cannot hold one."};
  }

 private:
  static constexpr unsigned kHighBytes = 1, kNulBytes = 2;
  static unsigned kinds_of(std::uint64_t any, bool nul) {
    return ((any & kHigh) ? kHighBytes : 0) | (nul ? kNulBytes : 0);
  }
  static unsigned byte_kinds(const std::string& t) {
    const char* p = t.data();
    std::size_t n = t.size(), i = 0;
    std::uint64_t any = 0, nul = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      any |= w;
      nul |= has_byte(w);
    }
    if (i < n && n >= 8) {
      // The rest within the last word, read again in part: its other bytes are looked at
      // twice, which changes neither answer.
      std::uint64_t w;
      std::memcpy(&w, p + n - 8, 8);
      any |= w;
      nul |= has_byte(w);
      i = n;
    }
    for (; i < n; ++i) {
      any |= static_cast<unsigned char>(p[i]);
      nul |= p[i] == 0;
    }
    return kinds_of(any, nul != 0);
  }

  void drop_nuls(std::string& t) {
    if (std::memchr(t.data(), 0, t.size()) == nullptr) return;
    std::size_t before = t.size();
    t.erase(std::remove(t.begin(), t.end(), '\0'), t.end());
    if (nuls_ == 0) firstNulRow_ = row_;
    nuls_ += static_cast<std::int64_t>(before - t.size());
  }

  bool fill() {
    if (eof_) return false;
    in_->read(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    len_ = static_cast<std::size_t>(in_->gcount());
    pos_ = 0;
    if (len_ == 0) eof_ = true;
    return len_ > 0;
  }
  int get() {
    if (pos_ == len_ && !fill()) return -1;
    return static_cast<unsigned char>(buf_[pos_++]);
  }
  int peek() {
    if (pos_ == len_ && !fill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  void end_line(int c) {
    if (c == '\r' && peek() == '\n') ++pos_;
  }
  void count(std::size_t bytes, int column) {
    rowBytes_ += bytes;
    if (rowBytes_ > kMaxRowBytes)
      throw DatabaseError(where(column) + "the row is longer than 16 MiB; the file is not a " +
                          "delimited text file, or a quote is not closed.");
  }
  std::string where(int column) const {
    return fileName_ + ": row " + std::to_string(row_) + ", column " + std::to_string(column) +
           ": ";
  }

  // Most rows lie whole in the buffer, with no control byte but their line end, no doubled
  // quote and no text after a closing one: those are split here, every value found before any
  // is copied out, so that each takes one copy. False, with nothing read, for any other row,
  // which the value by value reading below then takes.
  bool split_whole_row(std::vector<Cell>& cells) {
    const char* const e = buf_.data() + len_;
    const std::uint64_t delimWord = delimWord_;
    const char delim = delim_;
    std::size_t n = 0;
    std::uint64_t any = 0;  // the bits of the plain values' bytes
    const char* v = buf_.data() + pos_;
    char b;
    const char* stop;
    for (;;) {
      if (n == static_cast<std::size_t>(kMaxColumns) + 1 || v == e) return false;
      if (*v == '"') {
        const char* close =
            static_cast<const char*>(std::memchr(v + 1, '"', static_cast<std::size_t>(e - v - 1)));
        if (!close || e - close < 2) return false;
        stop = close + 1;
        b = *stop;
        // A doubled quote, or text after the closing one, is for the reading below.
        if (b != delim && b != '\r' && b != '\n') return false;
        values_[n++] = {v + 1, close, true};
      } else {
        // The first delimiter or byte below 0x0E (a quote past a value's start is text like any
        // other); the lowest byte flagged by either test is a true match (a false one only
        // follows a true one).
        const char* q = v;
        for (;;) {
          if (e - q < 8) return false;
          std::uint64_t w;
          std::memcpy(&w, q, 8);
          const std::uint64_t m = has_byte(w ^ delimWord) | ((w - kOnes * 0x0E) & ~w & kHigh);
          if (m) {
            const int k = std::countr_zero(m) >> 3;
            any |= w & ((1ull << (8 * k)) - 1);  // the bytes before the stop
            q += k;
            break;
          }
          any |= w;
          q += 8;
        }
        stop = q;
        b = *stop;
        if (!stop_[static_cast<unsigned char>(b)]) return false;  // NUL, another control byte
        values_[n++] = {v, stop, false};
      }
      if (b != delim) break;
      v = stop + 1;
    }
    if (cells.size() < n) cells.resize(n);
    const bool high = (any & kHigh) != 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Value& value = values_[i];
      Cell& cell = cells[i];
      cell.text.assign(value.begin, value.end);
      if (value.quoted || high) {
        const unsigned kinds = byte_kinds(cell.text);
        if (kinds & kHighBytes) decode_in_place(cell.text, format_.codepage);
        if (kinds & kNulBytes) drop_nuls(cell.text);
      }
      cell.kind = cell.text.empty() ? Cell::Kind::Empty : Cell::Kind::Text;
    }
    cells.resize(n);
    pos_ = static_cast<std::size_t>(stop + 1 - buf_.data());
    end_line(static_cast<unsigned char>(b));
    return true;
  }

  // Reads up to the next delimiter or line end; returns that byte (or -1 at the end), pos_
  // then just after it. any gathers the bits of the bytes read, nul whether one was zero.
  // The first byte of a plain part was never counted toward the row's length, so neither is
  // it now.
  int read_plain(std::string& t, int column, std::uint64_t& any, bool& nul) {
    std::size_t uncounted = 1;
    for (;;) {
      if (pos_ == len_ && !fill()) return -1;
      const char* const p = buf_.data() + pos_;
      const char* const e = buf_.data() + len_;
      const char* q = p;
      // Eight bytes at a time while none is the delimiter or below 0x0E, which takes in both
      // line ends and NUL with one test. The lowest flagged byte of either test is always a
      // true match (a false one only follows a true one), so the word that holds the stop also
      // tells where it is. A flagged byte that does not end the value (NUL, another control
      // byte) is passed over by itself.
      unsigned char b = 0;
      for (;;) {
        if (e - q >= 8) {
          std::uint64_t w;
          std::memcpy(&w, q, 8);
          const std::uint64_t m = has_byte(w ^ delimWord_) | ((w - kOnes * 0x0E) & ~w & kHigh);
          if (!m) {
            any |= w;
            q += 8;
            continue;
          }
          const int k = std::countr_zero(m) >> 3;
          if (k) any |= w & (~0ull >> (64 - 8 * k));
          q += k;
        } else {
          while (q < e && static_cast<unsigned char>(*q) >= 0x0E && *q != delim_) {
            any |= static_cast<unsigned char>(*q);
            ++q;
          }
          if (q == e) break;
        }
        b = static_cast<unsigned char>(*q);
        if (stop_[b]) break;
        nul |= b == 0;
        any |= b;
        ++q;
      }
      std::size_t bytes = static_cast<std::size_t>(q - p);
      if (bytes) {
        count(bytes - uncounted, column);
        uncounted = 0;
        t.append(p, q);
      }
      if (q < e) {
        pos_ += bytes + 1;
        return b;
      }
      pos_ = len_;
    }
  }

  // After an opening quote: reads to the closing one (a doubled quote is one quote, line
  // breaks are part of the value); returns the byte after the closing quote.
  int read_quoted(std::string& t, int column) {
    for (;;) {
      if (pos_ == len_ && !fill())
        throw DatabaseError(where(column) +
                            "a quoted value is not closed before the end of the file.");
      const char* p = buf_.data() + pos_;
      const char* e = buf_.data() + len_;
      const char* q =
          static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(e - p)));
      if (!q) q = e;
      count(static_cast<std::size_t>(q - p), column);
      t.append(p, q);
      pos_ += static_cast<std::size_t>(q - p);
      if (q == e) continue;
      ++pos_;  // the quote
      if (peek() == '"') {
        ++pos_;
        t.push_back('"');
        continue;
      }
      return get();
    }
  }

  std::unique_ptr<std::istream> in_;
  TextFormat format_;
  std::string fileName_;
  std::vector<char> buf_;
  // NUL bytes taken out of values: a character field of a dBase table cannot hold one.
  std::int64_t nuls_ = 0, firstNulRow_ = 0;
  bool stop_[256] = {};  // the bytes that end a plain value: the delimiter and line ends
  static constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  static constexpr std::uint64_t kHigh = kOnes << 7;
  std::uint64_t delimWord_ = 0;
  char delim_ = ',';
  struct Value {
    const char* begin;
    const char* end;
    bool quoted;
  };
  Value values_[kMaxColumns + 1];  // of the row split whole
  static std::uint64_t has_byte(std::uint64_t zeroed) { return (zeroed - kOnes) & ~zeroed & kHigh; }
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  std::int64_t row_ = 0;
  std::size_t rowBytes_ = 0;
  std::string scratch_;
};

}  // namespace

std::unique_ptr<RowReader> open_text_rows(const std::string& path, TextFormat format) {
  auto in = std::make_unique<std::ifstream>(to_fs_path(path), std::ios::binary);
  if (!*in) throw DatabaseError("Could not find file '" + path + "'.");
  return std::make_unique<TextRowReader>(std::move(in), format, path);
}

std::unique_ptr<RowReader> text_rows_from_memory(std::string data, TextFormat format,
                                                 std::string fileName) {
  return std::make_unique<TextRowReader>(std::make_unique<std::istringstream>(std::move(data)),
                                         format, std::move(fileName));
}

// ---- the folder ---------------------------------------------------------------------------

namespace {

bool is_text_file_name(const std::string& name) {
  std::string ext = to_lower_ascii(extension_of(name));
  return ext == ".txt" || ext == ".csv" || ext == ".tab" || ext == ".asc";
}

class TextFolderDatabase : public EngineDatabase {
 public:
  TextFolderDatabase(std::string folder, ConnectString connect)
      : folder_(std::move(folder)), connect_(std::move(connect)) {}

  std::vector<std::string> tableNames() const override {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(to_fs_path(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
      std::error_code fec;
      if (!it->is_regular_file(fec)) continue;
      std::string name = from_fs_path(it->path().filename());
      if (is_text_file_name(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return to_upper_ascii(a) < to_upper_ascii(b);
    });
    return names;
  }

  std::unique_ptr<Recordset> openRecordset(const std::string& name) override {
    std::string file = name;
    if (file.size() >= 2 && file.front() == '[' && file.back() == ']')
      file = file.substr(1, file.size() - 2);
    // The engine's own spelling of "prices.csv" is "prices#csv".
    if (file.find('.') == std::string::npos) {
      auto hash = file.rfind('#');
      if (hash != std::string::npos) file[hash] = '.';
    }
    std::string path = resolve_path(join_path(folder_, file));
    std::error_code ec;
    if (file.empty() || file.find_first_of("/\\") != std::string::npos ||
        !fs::is_regular_file(to_fs_path(path), ec))
      throw DatabaseError(object_not_found_message(name));

    SheetOptions options = SheetOptions::from(connect_);
    options.allText = true;
    options.fileName = path;
    TextFormat format;
    std::optional<SchemaSection> schema = find_schema_section(path);
    if (schema && !schema->unsupported.empty())
      throw DatabaseError(path + ": schema.ini asks for " + schema->unsupported +
                          ", which this engine does not read.");
    if (schema && schema->colNameHeader) options.firstRowHeader = *schema->colNameHeader;
    if (schema && schema->codepage) format.codepage = *schema->codepage;
    if (schema && schema->delimiter) {
      format.delimiter = *schema->delimiter;
    } else if (to_lower_ascii(extension_of(path)) == ".csv") {
      format.delimiter = ',';
    } else {
      format.delimiter = detect_delimiter(text_head(path, 64 * 1024));
    }
    // A large file's rows are read on a second thread while the caller uses them.
    std::unique_ptr<RowReader> rows = open_text_rows(path, format);
    RowReader* raw = rows.get();
    auto ahead =
        std::make_unique<RowsAhead>(std::move(rows), [raw] { return raw->prepareForThread(); });
    return std::make_unique<SheetRecordset>(std::move(ahead), options);
  }

  std::string version() const override { return "Text"; }

 private:
  std::string folder_;
  ConnectString connect_;
};

}  // namespace

std::unique_ptr<EngineDatabase> open_text_folder(const std::string& folder,
                                                 const ConnectString& connect) {
  std::string real = resolve_path(folder);
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(to_fs_path(real), ec))
    throw DatabaseError(not_a_valid_path_message(folder));
  return std::make_unique<TextFolderDatabase>(real, connect);
}

}  // namespace qm::source
