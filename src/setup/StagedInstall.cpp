#include "StagedInstall.h"

#include <windows.h>

#include <algorithm>

#include "Unit1.h"
#include "Unit2.h"
#include "rtl/FileHandleIo.h"
#include "rtl/SysUtils.h"
#include "ui/WinHandles.h"

namespace setup {

std::string ScratchName(uint32_t number) {
  return rtl::Format("~QLX%08X.tmp", static_cast<unsigned>(number));
}

namespace {

[[noreturn]] void CreateError(const std::string& path, DWORD code) {
  throw rtl::EFCreateError(rtl::Format(rtl::SFCreateErrorEx, rtl::ExpandFileName(path).c_str(),
                                       rtl::SysErrorMessage(code).c_str()));
}

[[noreturn]] void DamagedError(const mx::TmxStoredItem& item) {
  const std::string& label = item.FileName().empty() ? item.Name() : item.FileName();
  throw rtl::Exception(rtl::Format(SDamagedSetup, label.c_str()));
}

// The stored file names, each one a plain name and no two alike: two items
// on one path would leave nothing to put back for the first.
std::vector<std::string> CheckedFileNames(const mx::TmxStorage& storage) {
  std::vector<std::string> names;
  for (int i = 0; i < storage.StoredItems()->Count(); ++i) {
    const mx::TmxStoredItem& item = *storage.GetStoredItem(i);
    const std::string& name = item.FileName();
    if (!IsUsableFileName(name) ||
        std::any_of(names.begin(), names.end(),
                    [&](const std::string& other) { return rtl::AnsiSameText(other, name); }))
      DamagedError(item);
    names.push_back(name);
  }
  return names;
}

// Not for secrecy: the folder is the product's own, and CREATE_NEW settles
// any clash. Different runs just rarely meet on a name.
uint32_t NextScratchNumber() {
  static uint32_t next = GetTickCount() ^ (GetCurrentProcessId() << 16);
  next = next * 1664525u + 1013904223u;
  return next;
}

// A new file in folder (with its delimiter) under a scratch name that no
// stored item has; a failure names finalPath, the file the user knows of.
ui::THandle CreateScratch(const std::string& folder, const std::vector<std::string>& storedNames,
                          const std::string& finalPath, std::string& path) {
  DWORD code = ERROR_FILE_EXISTS;
  for (int attempt = 0;
       attempt < 100 && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS); ++attempt) {
    const std::string name = ScratchName(NextScratchNumber());
    if (std::any_of(storedNames.begin(), storedNames.end(),
                    [&](const std::string& stored) { return rtl::AnsiSameText(stored, name); }))
      continue;
    const HANDLE file = CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path = folder + name;
      return ui::THandle(file);
    }
    code = GetLastError();
  }
  CreateError(finalPath, code);
}

// The staged content's file; a write that fails (a full disk) raises the
// file-creation error of the final path with the system's reason.
class TScratchFile : public rtl::TStream {
public:
  TScratchFile(const ui::THandle& file, const std::string& finalPath)
      : FFile(file), FFinalPath(finalPath) {}
  int32_t Read(void*, int32_t) override { throw rtl::EReadError(rtl::SReadError); }
  int32_t Write(const void* buffer, int32_t count) override {
    DWORD written = 0;
    if (count <= 0)
      return 0;
    if (!WriteFile(FFile.Get(), buffer, static_cast<DWORD>(count), &written, nullptr))
      CreateError(FFinalPath, GetLastError());
    if (written != static_cast<DWORD>(count))
      CreateError(FFinalPath, ERROR_DISK_FULL);
    return count;
  }
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
    return rtl::FileSeek(FFile.Get(), offset, origin);
  }

private:
  const ui::THandle& FFile;
  const std::string& FFinalPath;
};

constexpr DWORD SMoveFlags = MOVEFILE_WRITE_THROUGH;

} // namespace

TStagedInstall::TStagedInstall(const mx::TmxStorage& storage, const std::string& folder)
    : FFolder(WithDelimiter(folder)) {
  const std::vector<std::string> names = CheckedFileNames(storage);
  FCreatedFolders = ForceDirectories(folder);
  try {
    // The rule ran before the folders existed: one that someone else made
    // meanwhile is judged as it is now, before anything is written into it.
    if (std::string problem = InstallFolderProblem(folder, LongestFileName(storage));
        !problem.empty())
      throw rtl::Exception(InvalidFolderText(folder, problem));
    for (int i = 0; i < storage.StoredItems()->Count(); ++i)
      Stage(*storage.GetStoredItem(i), names);
  } catch (...) {
    Discard();
    throw;
  }
}

TStagedInstall::~TStagedInstall() {
  if (!FSettled)
    Discard();
}

void TStagedInstall::Stage(const mx::TmxStoredItem& item, const std::vector<std::string>& taken) {
  TEntry& entry = FEntries.emplace_back();
  entry.Final = FFolder + item.FileName();
  // A folder of that name would only refuse the swap, after the old library
  // was unregistered.
  const DWORD attributes = GetFileAttributesA(entry.Final.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    CreateError(entry.Final, ERROR_ACCESS_DENIED);
  const ui::THandle file = CreateScratch(FFolder, taken, entry.Final, entry.Staged);
  // The name the old file moves to, taken now so that the swap needs none.
  CreateScratch(FFolder, taken, entry.Final, entry.Aside);
  TScratchFile stream(file, entry.Final);
  try {
    item.ExtractChecked(stream);
  } catch (const rtl::EFCreateError&) {
    throw;
  } catch (const std::exception&) {
    DamagedError(item);
  }
}

void TStagedInstall::Swap() {
  for (TEntry& entry : FEntries)
    if (const DWORD code = SwapEntry(entry); code != ERROR_SUCCESS) {
      Discard();
      CreateError(entry.Final, code);
    }
}

DWORD TStagedInstall::SwapEntry(TEntry& entry) {
  const DWORD attributes = GetFileAttributesA(entry.Final.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      return ERROR_ACCESS_DENIED;
    // A rename in the folder: a file in use without delete sharing refuses
    // here, while it is still whole.
    if (!MoveFileExA(entry.Final.c_str(), entry.Aside.c_str(),
                     MOVEFILE_REPLACE_EXISTING | SMoveFlags))
      return GetLastError();
    entry.ReplacedOld = true;
  }
  if (!MoveFileExA(entry.Staged.c_str(), entry.Final.c_str(), SMoveFlags))
    return GetLastError();
  entry.Staged.clear();
  entry.Swapped = true;
  return ERROR_SUCCESS;
}

void TStagedInstall::Restore(bool removeNew) {
  for (auto entry = FEntries.rbegin(); entry != FEntries.rend(); ++entry) {
    if (entry->ReplacedOld) {
      // One that cannot go back keeps its old content under the scratch name.
      if (MoveFileExA(entry->Aside.c_str(), entry->Final.c_str(),
                      MOVEFILE_REPLACE_EXISTING | SMoveFlags)) {
        entry->ReplacedOld = false;
        entry->Aside.clear();
      }
    } else if (entry->Swapped && removeNew) {
      DeleteFileA(entry->Final.c_str());
    }
    entry->Swapped = false;
  }
}

void TStagedInstall::DeleteScratchFiles() {
  for (TEntry& entry : FEntries) {
    if (!entry.Staged.empty())
      DeleteFileA(entry.Staged.c_str());
    entry.Staged.clear();
    // A set-aside file is the old product's: never deleted here.
    if (!entry.ReplacedOld && !entry.Aside.empty()) {
      DeleteFileA(entry.Aside.c_str());
      entry.Aside.clear();
    }
  }
}

void TStagedInstall::Discard() {
  Restore(true);
  DeleteScratchFiles();
  for (auto folder = FCreatedFolders.rbegin(); folder != FCreatedFolders.rend(); ++folder)
    RemoveDirectoryA(folder->c_str());
  FSettled = true;
}

void TStagedInstall::PutBack() {
  Restore(false);
  DeleteScratchFiles();
  FSettled = true;
}

void TStagedInstall::Commit() {
  for (TEntry& entry : FEntries) {
    if (!entry.ReplacedOld)
      continue;
    SetFileAttributesA(entry.Aside.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A process may still map the old library: it goes when nothing can.
    if (!DeleteFileA(entry.Aside.c_str()))
      MoveFileExA(entry.Aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    entry.ReplacedOld = false;
    entry.Aside.clear();
  }
  DeleteScratchFiles();
  FSettled = true;
}

} // namespace setup
