// The product files of an install or reinstall, written in two moves so that
// a failure never leaves a half-replaced product: every stored item is first
// inflated and checked into a scratch file beside its final name, before
// anything of the old product is touched; then the scratch files take the
// final names, with the old files kept aside until the new library is
// registered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "mx/mxStorage.h"

namespace setup {

// A scratch name: "~QLX", number as 8 hex digits, ".tmp".
std::string ScratchName(uint32_t number);

class TStagedInstall {
public:
  // Creates folder (given without its trailing delimiter) with its missing
  // parents and stages every stored item, in collection order, into a new
  // scratch file there. On any failure removes every scratch file and every
  // folder it created, then raises the damaged-setup error for an item whose
  // data or file name is unusable, or the file-creation error naming the
  // item's final path.
  TStagedInstall(const mx::TmxStorage& storage, const std::string& folder);
  // Unless Commit or PutBack ran: what Swap does when it fails.
  ~TStagedInstall();
  TStagedInstall(const TStagedInstall&) = delete;
  TStagedInstall& operator=(const TStagedInstall&) = delete;

  // Moves each staged file to its final name, in collection order, setting
  // the file it replaces aside. When a move fails: puts back every file
  // already moved, deletes the scratch files, removes the folders it created
  // and raises the file-creation error for that file's final path.
  void Swap();
  // After a swap whose result will not be kept: the set-aside files go back
  // over the new ones; new files that replaced nothing stay.
  void PutBack();
  // The new files stay: the set-aside files are deleted, or, when one is in
  // use, deleted at the next restart.
  void Commit();

  // The folders it created, parents first.
  const std::vector<std::string>& CreatedFolders() const { return FCreatedFolders; }

private:
  struct TEntry {
    std::string Final;  // the stored item's path
    std::string Staged; // its new content, until swapped
    std::string Aside;  // reserved; holds the file it replaced once swapped
    bool Swapped = false;
    bool ReplacedOld = false;
  };

  void Stage(const mx::TmxStoredItem& item, const std::vector<std::string>& taken);
  // ERROR_SUCCESS, or the system's reason why not.
  DWORD SwapEntry(TEntry& entry);
  // Puts back every file set aside; new files that replaced nothing are
  // deleted too when removeNew.
  void Restore(bool removeNew);
  void DeleteScratchFiles();
  void Discard();

  std::string FFolder; // with its delimiter
  std::vector<TEntry> FEntries;
  std::vector<std::string> FCreatedFolders;
  bool FSettled = false;
};

} // namespace setup
