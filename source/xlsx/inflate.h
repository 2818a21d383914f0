// Raw deflate streams (a zip entry's packed bytes) inflated with ISA-L where the build found it
// and with zlib otherwise, with the CRC-32 of what came out. ISA-L inflates a workbook's sheet
// about twice as fast as zlib; zlib stays for the builds that lack ISA-L and as the reference
// the tests hold ISA-L to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm::source::xlsx {

enum class InflaterKind { Zlib, Isal };

// The kinds this build has, the fastest last.
const std::vector<InflaterKind>& available_inflaters();
InflaterKind fastest_inflater();
const char* inflater_name(InflaterKind kind);

class Inflater {
 public:
  static std::unique_ptr<Inflater> make(InflaterKind kind);
  virtual ~Inflater() = default;

  enum class Status { More, End, Damaged };
  // Inflates from in (inLen bytes) into out (outLen bytes) as far as either goes; used and made
  // say how much was taken and written. End once the stream's last block is out; Damaged for
  // data that is no deflate stream (error() says how).
  virtual Status inflate(const char* in, std::size_t inLen, std::size_t& used, char* out,
                         std::size_t outLen, std::size_t& made) = 0;
  // CRC-32 (as zip and gzip compute it) of everything made so far.
  virtual std::uint32_t crc() const = 0;
  virtual std::string error() const = 0;
};

}  // namespace qm::source::xlsx
