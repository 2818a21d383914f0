// The workbook's shared string table, kept compactly (texts side by side in large blocks, one
// 8-byte entry per string) and read lazily: a string is parsed only when a cell first asks for
// an index at or beyond it, so opening a big sheet and reading its first rows does not wait for
// the whole table. Excel writes strings in the order of first use, which makes this cheap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "source/xlsx/xml_reader.h"

namespace qm::source::xlsx {

class PartStream;

class SharedStrings : private XmlHandler {
 public:
  // No table (a workbook without strings).
  explicit SharedStrings(const Limits& limits);
  // A table read from in as strings are asked for.
  SharedStrings(std::unique_ptr<PartStream> in, const Limits& limits);
  ~SharedStrings() override;

  // The string at index, or false when the table ends before it.
  bool get(std::uint64_t index, std::string_view& out);
  // Strings parsed so far.
  std::uint64_t loaded() const { return entries_.size(); }
  // Reads the rest of the table (tests; memory figures).
  void load_all();

 private:
  void start(const char* name, const char** atts) override;
  void end(const char* name) override;
  void text(const char* data, int len) override;
  std::string context() const override;
  void commit();

  static constexpr std::size_t kBlock = 4u << 20;  // bigger than the longest string allowed
  static constexpr int kLengthBits = 23;           // lengths up to kBlock

  const Limits& limits_;
  std::unique_ptr<PartStream> in_;
  std::unique_ptr<XmlReader> xml_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockUsed_ = kBlock;
  std::uint64_t totalBytes_ = 0;
  std::vector<std::uint64_t> entries_;  // offset << kLengthBits | length
  std::string current_;
  bool inItem_ = false, inText_ = false;
  int phonetic_ = 0;
  bool ended_ = false;
};

}  // namespace qm::source::xlsx
