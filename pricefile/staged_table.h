// A dBase table (.dbf with its .dbt and .mdx) that is rewritten without ever being half
// written: the new set is made in a folder of its own beside the old one and renamed into
// place only when it is complete. The folder also holds the lock that keeps a second import
// out and, once the new set is complete, the mark that lets an interrupted swap be finished
// by the next import.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/platform.h"

namespace qm::pricefile {

// The .dbf, .dbt and .mdx of the table at dbfPath.
std::vector<std::string> table_file_set(const std::string& dbfPath);

class StagedTable {
 public:
  // finalPath: where the table is read from, such as DEST/ACMELIST.dbf.
  explicit StagedTable(std::string finalPath);
  // Removes the staging folder unless the new set was complete (then the next import finishes
  // putting it in place), and gives the lock up.
  ~StagedTable();
  StagedTable(const StagedTable&) = delete;
  StagedTable& operator=(const StagedTable&) = delete;

  // Takes the lock, finishes or clears what an interrupted import left, and checks that the
  // old files can be replaced. Raises qm::Error in the user's words ("ACMELIST.dbf is in use
  // by another import", "ACMELIST.dbf is read-only", "the folder ... cannot be written")
  // before anything is changed.
  void begin(Messages& messages);
  // Where the new table is made: the same file name, in the staging folder.
  std::string stagedPath() const;
  // Starts the new set as a copy of the old one, to add to it.
  void copyOld();
  // Marks the new set complete: from here on it is put in place, if not by commit then by the
  // next import. Raises qm::Error when the mark cannot be written.
  void prepare();
  // Puts the complete new set in place of the old one (preparing it first when that was not
  // done). Raises qm::Error when a rename fails; the next import then finishes the swap.
  void commit();

  // Called with a step's name ("ready", "renamed .dbt", ...) while the set is put in place;
  // tests raise there to stand for a crash at that moment.
  std::function<void(const std::string& step)> faultPoint;

 private:
  std::string finalFile(const std::string& stagedFile) const;
  void finishSwap(const std::vector<std::string>& newSet);
  void clearStaging();
  void step(const std::string& name) {
    if (faultPoint) faultPoint(name);
  }

  std::string finalPath_;
  std::string folder_;  // staging folder, with its trailing separator
  platform::FileLock lock_;
  bool begun_ = false;
  bool ready_ = false;  // the new set is complete: never removed, only put in place
  bool committed_ = false;
  std::vector<std::string> newSet_;
};

}  // namespace qm::pricefile
