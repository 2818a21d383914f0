// The workbook reader's own entry points: the same reader as open_xlsx, with its safety limits
// open to tests and a way to read a workbook held in memory (the fuzz target).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "source/reader.h"

namespace qm::source::xlsx {

// What a workbook may demand before it is refused. A hostile file can declare anything, so
// every size here is counted as the data really arrives, never taken from a declaration.
struct Limits {
  // Inflated bytes of one part of the package.
  std::uint64_t maxPartBytes = 4ull << 30;
  // Inflated bytes a part may reach before its packing ratio is looked at; beyond them a part
  // that inflates to more than maxRatio times its packed size is taken for a zip bomb.
  std::uint64_t ratioFreeBytes = 128ull << 20;
  std::uint64_t maxRatio = 400;
  // Text of one cell or one shared string (Excel itself stops at 32,767 characters).
  std::size_t maxCellBytes = 1u << 20;
  // All shared strings together, and their number.
  std::uint64_t maxSharedStringBytes = 1ull << 30;
  std::uint64_t maxSharedStrings = 1u << 26;
  // Unfinished XML the parser may hold: one tag with its attributes, one comment.
  std::size_t maxTokenBytes = 1u << 20;
  // Element nesting; a worksheet needs fewer than ten levels.
  int maxDepth = 64;
  // Cell formats, number formats and sheets.
  std::size_t maxStyles = 1u << 20;
  std::size_t maxSheets = 1u << 16;
};

std::unique_ptr<WorkbookReader> open_workbook(const std::string& path, const Limits& limits);
// Reads a workbook from bytes; name stands for the file in messages.
std::unique_ptr<WorkbookReader> open_workbook_bytes(const std::string& name, std::string bytes,
                                                    const Limits& limits);

}  // namespace qm::source::xlsx
