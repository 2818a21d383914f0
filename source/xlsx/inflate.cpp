#include "source/xlsx/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#ifdef QM_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace qm::source::xlsx {
namespace {

// Both libraries count in 32 bits; a larger buffer is simply taken in parts.
constexpr std::size_t kMaxStep = 1u << 30;

class ZlibInflater : public Inflater {
 public:
  ZlibInflater() {
    // Negative window bits: a raw stream, without the zlib header zip entries do not have.
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~ZlibInflater() override { inflateEnd(&z_); }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  Status inflate(const char* in, std::size_t inLen, std::size_t& used, char* out,
                 std::size_t outLen, std::size_t& made) override {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    z_.avail_in = static_cast<uInt>(std::min(inLen, kMaxStep));
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(std::min(outLen, kMaxStep));
    int rc = ::inflate(&z_, Z_NO_FLUSH);
    used = static_cast<std::size_t>(z_.next_in - reinterpret_cast<const Bytef*>(in));
    made = static_cast<std::size_t>(z_.next_out - reinterpret_cast<Bytef*>(out));
    crc_ = static_cast<std::uint32_t>(
        crc32_z(crc_, reinterpret_cast<const Bytef*>(out), static_cast<z_size_t>(made)));
    switch (rc) {
      case Z_STREAM_END:
        return Status::End;
      case Z_OK:
      case Z_BUF_ERROR:  // no progress possible: the caller brings more input or room
        return Status::More;
      case Z_MEM_ERROR:
        throw std::bad_alloc();
      default:
        error_ = z_.msg ? z_.msg : "invalid deflate data";
        return Status::Damaged;
    }
  }
  std::uint32_t crc() const override { return crc_; }
  std::string error() const override { return error_; }

 private:
  z_stream z_{};
  std::uint32_t crc_ = 0;
  std::string error_;
};

#ifdef QM_HAVE_ISAL
class IsalInflater : public Inflater {
 public:
  IsalInflater() : s_(new inflate_state) {
    isal_inflate_init(s_.get());
    s_->crc_flag = ISAL_GZIP_NO_HDR;  // a raw stream, with the CRC-32 of gzip and zip kept
  }

  Status inflate(const char* in, std::size_t inLen, std::size_t& used, char* out,
                 std::size_t outLen, std::size_t& made) override {
    s_->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(in));
    s_->avail_in = static_cast<std::uint32_t>(std::min(inLen, kMaxStep));
    s_->next_out = reinterpret_cast<std::uint8_t*>(out);
    s_->avail_out = static_cast<std::uint32_t>(std::min(outLen, kMaxStep));
    int rc = isal_inflate(s_.get());
    used = static_cast<std::size_t>(s_->next_in - reinterpret_cast<const std::uint8_t*>(in));
    made = static_cast<std::size_t>(s_->next_out - reinterpret_cast<std::uint8_t*>(out));
    switch (rc) {
      case ISAL_DECOMP_OK:
      case ISAL_END_INPUT:
      case ISAL_OUT_OVERFLOW:
        return s_->block_state == ISAL_BLOCK_FINISH ? Status::End : Status::More;
      case ISAL_INVALID_BLOCK:
        error_ = "invalid block type";
        break;
      case ISAL_INVALID_SYMBOL:
        error_ = "invalid code";
        break;
      case ISAL_INVALID_LOOKBACK:
        error_ = "invalid distance too far back";
        break;
      default:
        error_ = "invalid deflate data";
        break;
    }
    return Status::Damaged;
  }
  std::uint32_t crc() const override { return s_->crc; }
  std::string error() const override { return error_; }

 private:
  std::unique_ptr<inflate_state> s_;  // some 80 KiB of tables: not on the stack
  std::string error_;
};
#endif

}  // namespace

const std::vector<InflaterKind>& available_inflaters() {
#ifdef QM_HAVE_ISAL
  static const std::vector<InflaterKind> kinds = {InflaterKind::Zlib, InflaterKind::Isal};
#else
  static const std::vector<InflaterKind> kinds = {InflaterKind::Zlib};
#endif
  return kinds;
}

InflaterKind fastest_inflater() {
  return available_inflaters().back();
}

const char* inflater_name(InflaterKind kind) {
  return kind == InflaterKind::Isal ? "ISA-L" : "zlib";
}

std::unique_ptr<Inflater> Inflater::make(InflaterKind kind) {
#ifdef QM_HAVE_ISAL
  if (kind == InflaterKind::Isal) return std::make_unique<IsalInflater>();
#endif
  (void)kind;
  return std::make_unique<ZlibInflater>();
}

}  // namespace qm::source::xlsx
