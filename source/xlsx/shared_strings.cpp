#include "source/xlsx/shared_strings.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/error.h"
#include "core/text.h"
#include "source/xlsx/errors.h"
#include "source/xlsx/zip_archive.h"

namespace qm::source::xlsx {

SharedStrings::SharedStrings(const Limits& limits) : limits_(limits), ended_(true) {
  complete_ = true;
}

SharedStrings::SharedStrings(std::unique_ptr<PartStream> in, const Limits& limits)
    : limits_(limits), in_(std::move(in)) {
  xml_ = std::make_unique<XmlReader>(*in_, static_cast<XmlHandler&>(*this), limits_);
}

SharedStrings::~SharedStrings() = default;

namespace {

// Names told apart a byte at a time, stopping at the first that differs: a string's tags
// are too short for a call to strcmp to pay.
bool is_rph(const char* name) {
  return name[0] == 'r' && name[1] == 'P' && name[2] == 'h' && name[3] == 0;
}

// The code unit of an escape at s[at] ("_x" four hex digits "_"), or -1 when there is none.
long escape_at(const std::string& s, std::size_t at) {
  if (at + 7 > s.size() || s[at] != '_' || s[at + 1] != 'x' || s[at + 6] != '_') return -1;
  long v = 0;
  for (std::size_t k = at + 2; k < at + 6; ++k) {
    char c = s[k];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

}  // namespace

void decode_escapes(std::string& s) {
  std::size_t i = s.find("_x");
  if (i == std::string::npos) return;
  std::string out(s, 0, i);
  while (i < s.size()) {
    long u = s[i] == '_' ? escape_at(s, i) : -1;
    std::size_t used = 7;
    char32_t c = static_cast<char32_t>(u);
    if (u >= 0xD800 && u < 0xDC00) {
      long low = escape_at(s, i + 7);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
            (static_cast<char32_t>(low) - 0xDC00);
        used = 14;
      } else {
        u = -1;
      }
    } else if (u == 0 || (u >= 0xDC00 && u < 0xE000)) {
      u = -1;
    }
    if (u < 0) {
      out.push_back(s[i++]);
      continue;
    }
    append_utf8(out, c);
    i += used;
  }
  s.swap(out);
}

std::string SharedStrings::context() const {
  return "string " + std::to_string(entries_.size());
}

// The table says how many strings it holds: room for them at once, as far as the limit goes,
// spares the copies of growing. A wrong count only costs room or copies.
void SharedStrings::reserveEntries(const char** atts) {
  for (; atts[0]; atts += 2) {
    if (std::strcmp(atts[0], "uniqueCount") != 0) continue;
    std::uint64_t n = 0;
    const char* v = atts[1];
    for (; *v >= '0' && *v <= '9' && n <= limits_.maxSharedStrings; ++v) n = n * 10 + (*v - '0');
    // Before the first string: nothing is published from the room yet.
    if (!entries_.empty()) continue;
    reserve_in_large_pages(
        entries_, static_cast<std::size_t>(std::min<std::uint64_t>(
                      n, std::min<std::uint64_t>(limits_.maxSharedStrings, kMostReserved))));
  }
}

void SharedStrings::start(const char* name, const char** atts) {
  // si holds either one t or runs r each with a t; rPh and its t are the phonetic reading
  // of East Asian text, which is not part of the value.
  if (name[0] == 's' && name[1] == 's' && name[2] == 't' && name[3] == 0) {
    reserveEntries(atts);
    xml_->offer_elements(true);
  } else if (name[0] == 's' && name[1] == 'i' && name[2] == 0) {
    inItem_ = true;
    inText_ = false;
    phonetic_ = 0;
    current_.clear();
  } else if (inItem_ && name[0] == 't' && name[1] == 0) {
    inText_ = phonetic_ == 0;
  } else if (inItem_ && is_rph(name)) {
    ++phonetic_;
  }
}

void SharedStrings::end(const char* name) {
  // Past the table a second <si> would be a second root, which the scanner refuses.
  if (name[0] == 's' && name[1] == 's' && name[2] == 't' && name[3] == 0)
    xml_->offer_elements(false);
  if (!inItem_) return;
  if (name[0] == 't' && name[1] == 0) {
    inText_ = false;
  } else if (is_rph(name)) {
    if (phonetic_ > 0) --phonetic_;
  } else if (name[0] == 's' && name[1] == 'i' && name[2] == 0) {
    commit();
    inItem_ = false;
  }
}

void SharedStrings::text(const char* data, int len) {
  if (!inText_) return;
  if (current_.size() + static_cast<std::size_t>(len) > limits_.maxCellBytes) {
    raise(in_->file(), in_->where() + ", " + context(),
          "the text is longer than " + std::to_string(limits_.maxCellBytes) + " bytes");
  }
  current_.append(data, static_cast<std::size_t>(len));
}

namespace {

// Bytes a text may hold as they stand: printable ASCII and the tab, without the markup's '<'
// and '&'. A line end is left to the scanner, which counts lines for its messages.
struct PlainBytes {
  bool plain[256] = {};
  PlainBytes() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
    plain[static_cast<unsigned char>('<')] = plain[static_cast<unsigned char>('&')] = false;
    plain[static_cast<unsigned char>('\t')] = true;
  }
};
const PlainBytes kPlainBytes;

}  // namespace

// Most strings are <si><t>plain text</t></si>: those are taken here without the scanner's
// four calls for each. Anything else (attributes, runs, a phonetic reading, an entity, bytes
// beyond ASCII, a string cut by the buffer's end) is left to the scanner.
std::size_t SharedStrings::elements(const char* from, const char* end) {
  (void)end;  // each byte looked at is compared with one of the markup's, which the NUL is not
  if (inItem_) return 0;
  const char* p = from;
  while (markup_at(p, "<si><t>")) {
    const char* text = p + 7;
    const char* q = text;
    while (kPlainBytes.plain[static_cast<unsigned char>(*q)]) ++q;
    const auto n = static_cast<std::size_t>(q - text);
    // Too long a text is the scanner's to refuse, with its message.
    if (n > limits_.maxCellBytes || !markup_at(q, "</t></si>")) break;
    current_.assign(text, n);
    commit();
    p = q + 9;
  }
  return static_cast<std::size_t>(p - from);
}

void SharedStrings::commit() {
  decode_escapes(current_);
  if (entries_.size() >= limits_.maxSharedStrings) {
    raise(in_->file(), in_->where(),
          "the workbook holds more than " + std::to_string(limits_.maxSharedStrings) +
              " shared strings");
  }
  static_assert(kBlock < (std::size_t{1} << kLengthBits), "a length must fit its entry");
  if (current_.size() > kBlock) {
    raise(in_->file(), in_->where() + ", " + context(), "the text is too long");
  }
  totalBytes_ += current_.size();
  if (totalBytes_ > limits_.maxSharedStringBytes) {
    raise(in_->file(), in_->where(),
          "the shared strings take more than " +
              std::to_string(limits_.maxSharedStringBytes >> 20) + " MiB");
  }
  makeRoom();
  if (blockUsed_ + current_.size() > kBlock) {
    blocks_.push_back(make_large_block(kBlock));
    blockStarts_.push_back(blocks_.back().get());
    blockUsed_ = 0;
  }
  std::uint64_t offset = (blocks_.size() - 1) * kBlock + blockUsed_;
  if (!current_.empty())
    std::memcpy(blocks_.back().get() + blockUsed_, current_.data(), current_.size());
  blockUsed_ += current_.size();
  entries_.push_back(offset << kLengthBits | current_.size());
}

void SharedStrings::makeRoom() {
  if (entries_.size() == entries_.capacity()) {
    std::vector<std::uint64_t> more;
    reserve_in_large_pages(more, std::max<std::size_t>(1024, 2 * entries_.size()));
    more.assign(entries_.begin(), entries_.end());
    retiredEntries_.push_back(std::move(entries_));
    entries_ = std::move(more);
  }
  if (blockStarts_.size() == blockStarts_.capacity()) {
    std::vector<const char*> more;
    more.reserve(std::max<std::size_t>(64, 2 * blockStarts_.size()));
    more.assign(blockStarts_.begin(), blockStarts_.end());
    retiredStarts_.push_back(std::move(blockStarts_));
    blockStarts_ = std::move(more);
  }
}

void SharedStrings::publish() {
  const Published* last = published_.load(std::memory_order_relaxed);
  if (entries_.empty() || (last && last->count == entries_.size())) return;
  publications_.push_back(std::make_unique<Published>(
      Published{entries_.data(), blockStarts_.data(), entries_.size()}));
  published_.store(publications_.back().get(), std::memory_order_release);
}

bool SharedStrings::get_loading(std::uint64_t index, std::string_view& out) {
  waiting_.fetch_add(1, std::memory_order_relaxed);
  std::unique_lock<std::mutex> lock(mutex_);
  waiting_.fetch_sub(1, std::memory_order_relaxed);
  // The table may have been completed since get looked: under the lock that reads the same.
  while (index >= entries_.size()) {
    if (ended_) return false;
    if (!xml_->step()) finishLoading();
  }
  publish();
  out = entry(index);
  return true;
}

void SharedStrings::finishLoading() {
  ended_ = true;
  xml_.reset();
  in_.reset();
  complete_.store(true, std::memory_order_release);
}

std::uint64_t SharedStrings::loaded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void SharedStrings::load_all() {
  // A step at a time, so that a reader on another thread asking for a string waits for one
  // step only, not for the whole table.
  while (load_step()) {
  }
}

bool SharedStrings::load_step() {
  if (complete_.load(std::memory_order_acquire)) return false;
  // A reader waiting for the lock needs a string not yet published: it goes first, or this
  // thread, taking the lock again at once, could keep it waiting step after step.
  if (waiting_.load(std::memory_order_relaxed) > 0) {
    std::this_thread::yield();
    return true;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return false;
  if (!xml_->step()) {
    finishLoading();
    return false;
  }
  publish();
  return true;
}

bool SharedStrings::readableFromAnyThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_ || (in_ && in_->ownHandle());
}

}  // namespace qm::source::xlsx
