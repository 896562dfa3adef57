// "Start" and "Finish" of the wizard in process, against the real registry,
// the real regsvr32 and the sample product's files.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "WinTestSupport.h"
#include "mx/mxLinkLabel.h"
#include "mx/mxStorage.h"
#include "rtl/Streams.h"
#include "setup/ChangeLock.h"
#include "setup/StagedInstall.h"
#include "setup/Unit1.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

using namespace setup;

namespace {

constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr int kMessageTextId = 0xFFFF;

std::string UnixToWine(std::string path) {
  for (char& c : path)
    if (c == '/')
      c = '\\';
  return "Z:" + path;
}

std::string ReadAll(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteText(const std::string& path, const std::string& text) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Answers every message box of this process with OK from a thread of its own
// and keeps caption and text of each.
class TBoxAnswerer {
public:
  TBoxAnswerer()
      : FThread([this] {
          while (!FStop) {
            const HWND box = wintest::FindOwnDialog();
            if (!box) {
              Sleep(50);
              continue;
            }
            Sleep(200);
            {
              const std::lock_guard lock(FMutex);
              FBoxes.push_back(
                  {wintest::WindowText(box), wintest::WindowText(GetDlgItem(box, kMessageTextId))});
              FCentred.push_back(CentredOnScreen(box));
            }
            wintest::PressButton(box, IDOK);
            for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i)
              Sleep(50);
          }
        }) {}
  ~TBoxAnswerer() { Stop(); }
  TBoxAnswerer(const TBoxAnswerer&) = delete;
  TBoxAnswerer& operator=(const TBoxAnswerer&) = delete;

  // Caption and text of each box, in order; read after the action returned.
  std::vector<std::pair<std::string, std::string>> Stop() {
    FStop = true;
    if (FThread.joinable())
      FThread.join();
    return FBoxes;
  }
  // Whether each box stood in the middle of the screen.
  std::vector<bool> Centred() {
    Stop();
    return FCentred;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const auto& box : Stop())
      texts.push_back(box.second);
    return texts;
  }

private:
  std::atomic<bool> FStop{false};
  std::mutex FMutex;
  std::vector<std::pair<std::string, std::string>> FBoxes;
  std::vector<bool> FCentred;
  std::thread FThread;

  static bool CentredOnScreen(HWND box) {
    RECT r{};
    GetWindowRect(box, &r);
    const int dx = (r.left + r.right) - GetSystemMetrics(SM_CXSCREEN);
    const int dy = (r.top + r.bottom) - GetSystemMetrics(SM_CYSCREEN);
    return dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2;
  }
};

std::vector<std::pair<UINT, DWORD>> GShutdownRequests;
BOOL GShutdownAnswer = TRUE;

BOOL WINAPI RecordShutdown(UINT flags, DWORD reason) {
  GShutdownRequests.emplace_back(flags, reason);
  return GShutdownAnswer;
}

class StartActionTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.Initialize();
    FApp.SetTitle("QLXT3SE");
    mx::RegisterStorageClasses();
    mx::RegisterLinkLabelClass();
    RegisterForm1Class();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, SUninstallKey);
    FRoot = wintest::TempFolder() + "\\QLX Start Test";
    RemoveTree(FRoot);
    CreateDirectoryA(FRoot.c_str(), nullptr);
    FFolder = FRoot + "\\Program Files\\QLXT3SE";
    GShutdownRequests.clear();
    GShutdownAnswer = TRUE;
    ExitWindowsProc = &RecordShutdown;
  }
  void TearDown() override {
    ExitWindowsProc = &ExitWindowsEx;
    FForm.reset();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, SUninstallKey);
    RemoveTree(FRoot);
  }

  static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
          continue;
        const std::string path = folder + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(path);
        else
          DeleteFileA(path.c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
  }

  TForm1& Load() {
    const std::string bytes = ReadAll(UnixToWine(QLX_FORM1_BIN));
    rtl::TReadOnlyMemoryStream stream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    FForm = std::make_unique<TForm1>(nullptr);
    FForm->ReadForm(stream);
    FForm->Show();
    return *FForm;
  }

  // The confirmation page of an install into folderText.
  TForm1& ReadyToInstall(const std::string& folderText) {
    TForm1& form = Load();
    form.Edit1->SetText(folderText);
    form.ShowPage(form.Panel5);
    return form;
  }

  bool Ended() {
    FApp.ProcessMessages();
    return FApp.Terminated();
  }

  static std::string Uninstall(const char* value) {
    return ReadRegistryString(SUninstallKey, value, HKEY_LOCAL_MACHINE);
  }

  ui::TApplication FApp;
  std::unique_ptr<TForm1> FForm;
  std::string FRoot, FFolder;
};

const char* const kProductFiles[] = {"QLX_Tessel_3.dll", "sqlite3.dll", "uninstall.exe",
                                     "Msvcrt.dll"};

TEST_F(StartActionTest, NewInstallWritesRegistersRecordsAndShowsTheFinishPage) {
  // The trailing delimiter must not double in any path or value.
  TForm1& form = ReadyToInstall(FFolder + "\\");
  ASSERT_TRUE(form.RadioButton1->Checked());
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  EXPECT_TRUE(boxes.Texts().empty()) << "a new install shows no message";

  for (const char* name : kProductFiles)
    EXPECT_EQ(ReadAll(UnixToWine(std::string(QLX_PRODUCT_DIR) + "/" + name)),
              ReadAll(FFolder + "\\" + name))
        << name;
  const std::string library = FFolder + "\\QLX_Tessel_3.dll";
  EXPECT_EQ(library, ReadRegistryString(SInProcServerKey, "", HKEY_CLASSES_ROOT))
      << "registered by regsvr32";

  EXPECT_EQ("QLX Tessel 3 Starter Edition", Uninstall("DisplayName"));
  EXPECT_EQ("\"" + FFolder + "\\Uninstall.exe\"", Uninstall("UninstallString"));
  EXPECT_EQ("3.0 (build 6.2.15.1)", Uninstall("DisplayVersion"));
  EXPECT_EQ("http://www.quillon-software.example/PageProducer.aspx?pageid=1&bodyid=400",
            Uninstall("HelpLink"));
  EXPECT_EQ("Quillon Software Company", Uninstall("Publisher"));
  EXPECT_EQ("http://www.quillon-software.example/PageProducer.aspx?PageID=1&BodyID=500",
            Uninstall("URLInfoAbout"));
  const auto folder = wintest::RawValue(HKEY_CLASSES_ROOT, SPreferencesKey, SInstallFolderValue);
  ASSERT_TRUE(folder);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), folder->first);
  EXPECT_EQ(FFolder + '\0', folder->second);

  EXPECT_TRUE(IsWindowVisible(form.Panel6->Handle()));
  EXPECT_FALSE(IsWindowVisible(form.Panel5->Handle()));
  for (ui::TButton* button : {form.Button13, form.Button14, form.Button15})
    EXPECT_TRUE(button->Enabled());
  EXPECT_FALSE(Ended());
}

TEST_F(StartActionTest, UninstallRemovesTheProductAndKeepsOnlyTheSettings) {
  TForm1& form = ReadyToInstall(FFolder);
  form.Button14Click(nullptr);
  ASSERT_EQ(FFolder + "\\QLX_Tessel_3.dll",
            ReadRegistryString(SInProcServerKey, "", HKEY_CLASSES_ROOT));

  form.RadioButton1->SetChecked(false);
  form.RadioButton3->SetChecked(true);
  form.ShowPage(form.Panel5);
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  EXPECT_EQ((std::vector<std::string>{"Shell restart needed...", "Uninstall successfull"}),
            boxes.Texts());

  for (const char* name : kProductFiles)
    EXPECT_FALSE(PathExists(FFolder + "\\" + name)) << name;
  EXPECT_FALSE(PathExists(FFolder));
  EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_EQ("", ReadRegistryString(SInProcServerKey, "", HKEY_CLASSES_ROOT)) << "unregistered";
  EXPECT_EQ(FFolder, ReadRegistryString(SPreferencesKey, SInstallFolderValue, HKEY_CLASSES_ROOT));
  EXPECT_TRUE(Ended());
}

TEST_F(StartActionTest, ReinstallUnregistersTheOldLibraryAndMovesToTheFieldsFolder) {
  TForm1& form = ReadyToInstall(FFolder);
  form.Button14Click(nullptr);
  const std::string other = FRoot + "\\Other Folder";
  form.Edit1->SetText(other);
  form.RadioButton1->SetChecked(false);
  form.RadioButton2->SetChecked(true);
  form.ShowPage(form.Panel5);
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  EXPECT_EQ(std::vector<std::string>{"Shell restart needed..."}, boxes.Texts());

  for (const char* name : kProductFiles) {
    EXPECT_TRUE(PathExists(other + "\\" + name)) << name;
    EXPECT_TRUE(PathExists(FFolder + "\\" + name)) << "the old folder is left alone: " << name;
  }
  EXPECT_EQ(other + "\\QLX_Tessel_3.dll",
            ReadRegistryString(SInProcServerKey, "", HKEY_CLASSES_ROOT));
  EXPECT_EQ("\"" + other + "\\Uninstall.exe\"", Uninstall("UninstallString"));
  EXPECT_EQ(other, ReadRegistryString(SPreferencesKey, SInstallFolderValue, HKEY_CLASSES_ROOT));
  EXPECT_TRUE(IsWindowVisible(form.Panel6->Handle()));
  EXPECT_FALSE(Ended());
}

TEST_F(StartActionTest, UninstallStopsAtAFileInUse) {
  TForm1& form = ReadyToInstall(FFolder);
  form.Button14Click(nullptr);
  const std::string busy = FFolder + "\\sqlite3.dll";
  const HANDLE held =
      CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  form.RadioButton1->SetChecked(false);
  form.RadioButton3->SetChecked(true);
  form.ShowPage(form.Panel5);
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  const std::vector<std::string> texts = boxes.Texts();
  CloseHandle(held);

  EXPECT_EQ(
      (std::vector<std::string>{"Shell restart needed...", "Access denied...\r\nFilename: " + busy +
                                                               "\r\nInstallation terminated..."}),
      texts);
  EXPECT_FALSE(PathExists(FFolder + "\\QLX_Tessel_3.dll")) << "deleted before the file in use";
  EXPECT_TRUE(PathExists(FFolder + "\\uninstall.exe"));
  EXPECT_TRUE(PathExists(FFolder + "\\Msvcrt.dll"));
  EXPECT_TRUE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_TRUE(Ended());
}

TEST_F(StartActionTest, UninstallWithoutARegisteredLibraryDeletesNothing) {
  // Bare file names would land in the current folder: put a product's name there.
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(FRoot.c_str()));
  WriteText(FRoot + "\\sqlite3.dll", "someone else's");
  WriteRegistryString(SUninstallKey, "DisplayName", "QLX Tessel 3 Starter Edition",
                      HKEY_LOCAL_MACHINE);

  TForm1& form = Load();
  form.RadioButton3->SetChecked(true);
  form.ShowPage(form.Panel5);
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  const std::vector<std::string> texts = boxes.Texts();
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(std::vector<std::string>{SNotInstalled}, texts);
  EXPECT_EQ("someone else's", ReadAll(FRoot + "\\sqlite3.dll"));
  EXPECT_TRUE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_TRUE(Ended());
}

TEST_F(StartActionTest, AFolderThatCannotBeCreatedStopsOnTheConfirmationPage) {
  // A file stands where a parent folder would have to be.
  WriteText(FRoot + "\\Program Files", "not a folder");
  TForm1& form = ReadyToInstall(FFolder);
  try {
    form.Button14Click(nullptr);
    ADD_FAILURE() << "no error raised";
  } catch (const std::exception& error) {
    EXPECT_EQ(0u, std::string(error.what())
                      .rfind("Cannot create file \"" + FFolder + "\\QLX_Tessel_3.dll\"", 0))
        << error.what();
  }
  EXPECT_TRUE(IsWindowVisible(form.Panel5->Handle()));
  EXPECT_FALSE(IsWindowVisible(form.Panel6->Handle()));
  for (ui::TButton* button : {form.Button13, form.Button14, form.Button15})
    EXPECT_TRUE(button->Enabled()) << "the page stays usable";
  EXPECT_EQ("", ReadRegistryString(SInProcServerKey, "", HKEY_CLASSES_ROOT));
  EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_FALSE(Ended());
}

TEST_F(StartActionTest, FinishRestartsOnlyWhenAskedAndAlwaysEnds) {
  TForm1& form = Load();
  form.ShowPage(form.Panel6);
  ASSERT_TRUE(form.RadioButton4->Checked()) << "\"Restart now\" is preselected";
  {
    TBoxAnswerer boxes;
    form.Button17Click(nullptr);
    EXPECT_TRUE(boxes.Texts().empty());
  }
  EXPECT_EQ((std::vector<std::pair<UINT, DWORD>>{{6u, 0u}}), GShutdownRequests);
  EXPECT_TRUE(Ended());
}

TEST_F(StartActionTest, FinishReportsARefusedRestartAndEnds) {
  GShutdownAnswer = FALSE;
  TForm1& form = Load();
  form.ShowPage(form.Panel6);
  TBoxAnswerer boxes;
  form.Button17Click(nullptr);
  const auto shown = boxes.Stop();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ("Error", shown[0].first);
  EXPECT_EQ("Unable to restart windows.\r\nPlease restart your computer manually.",
            shown[0].second);
  EXPECT_EQ(std::vector<bool>{true}, boxes.Centred());
  EXPECT_EQ(1u, GShutdownRequests.size());
  EXPECT_TRUE(Ended());
}

TEST_F(StartActionTest, FinishWithRestartLaterEndsWithoutARequest) {
  TForm1& form = Load();
  form.ShowPage(form.Panel6);
  auto* later = dynamic_cast<ui::TRadioButton*>(form.FindComponent("RadioButton5"));
  ASSERT_NE(nullptr, later);
  later->SetChecked(true);
  ASSERT_FALSE(form.RadioButton4->Checked());
  TBoxAnswerer boxes;
  form.Button17Click(nullptr);
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_TRUE(GShutdownRequests.empty());
  EXPECT_TRUE(Ended());
}

} // namespace

namespace {

TEST(PayloadCheck, AnItemWithoutAUsableFileNameIsDamageFoundBeforeAnyFolderIsMade) {
  mx::TmxStorage store(nullptr);
  auto* item = static_cast<mx::TmxStoredItem*>(store.StoredItems()->Add());
  rtl::TMemoryStream content;
  content.WriteBuffer("abc", 3);
  item->LoadFromStream(&content);
  const std::string parent = wintest::TempFolder() + "\\QLX Payload Check";
  try {
    TStagedInstall staged(store, parent + "\\QLXT3SE");
    ADD_FAILURE() << "no error raised";
  } catch (const rtl::Exception& error) {
    EXPECT_EQ(error.Message(), "The setup program is damaged (mxStoredItem1). Nothing was "
                               "changed; please download it again.");
  }
  EXPECT_FALSE(PathExists(parent));
  EXPECT_EQ(LongestFileName(store), 0u);
}

} // namespace

std::string DaclText(PSECURITY_DESCRIPTOR descriptor) {
  LPSTR sddl = nullptr;
  if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                         descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr))
    return "<none>";
  std::string text = sddl;
  LocalFree(sddl);
  return text;
}

// Each folder creation and the rules it asked for, by path.
std::map<std::string, std::string> GCreated;

BOOL WINAPI RecordCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  const BOOL created = CreateDirectoryA(path, attributes);
  if (created)
    GCreated[path] = DaclText(attributes ? attributes->lpSecurityDescriptor : nullptr);
  return created;
}

// This Wine (Debian's 8.0) keeps no security of its own for a folder and
// makes one up from the Unix mode bits: what the setup asks of the system is
// what can be seen.
TEST_F(StartActionTest, OnlyTheFoldersItCreatesAskForTheProtectedRules) {
  const std::string rules = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  const std::string made = FRoot + "\\Made", folder = made + "\\QLXT3SE";
  GCreated.clear();
  CreateDirectoryProc = &RecordCreateDirectory;
  EXPECT_EQ(ForceDirectories(folder), (std::vector<std::string>{made, folder}));
  EXPECT_EQ(ForceDirectories(folder + "\\Sub"), std::vector<std::string>{folder + "\\Sub"})
      << "only what it made";
  CreateDirectoryProc = &CreateDirectoryA;
  EXPECT_EQ(GCreated, (std::map<std::string, std::string>{
                          {made, rules}, {folder, rules}, {folder + "\\Sub", rules}}));
}

// Someone makes the folder between the rule and ours: it is his.
std::string GPlanted;

BOOL WINAPI PlantBeforeUs(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  if (path != GPlanted)
    return CreateDirectoryA(path, attributes);
  CreateDirectoryA(path, nullptr);
  SetLastError(ERROR_ALREADY_EXISTS);
  return FALSE;
}

BOOL WINAPI PlantedIsSomeoneElses(LPCSTR path, SECURITY_INFORMATION wanted,
                                  PSECURITY_DESCRIPTOR out, DWORD size, LPDWORD needed) {
  if (path != GPlanted)
    return GetFileSecurityA(path, wanted, out, size, needed);
  PSECURITY_DESCRIPTOR made = nullptr;
  ULONG length = 0;
  ConvertStringSecurityDescriptorToSecurityDescriptorA("O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;WD)",
                                                       SDDL_REVISION_1, &made, &length);
  *needed = length;
  const BOOL fits = length <= size;
  if (fits)
    memcpy(out, made, length);
  LocalFree(made);
  SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
  return fits;
}

TEST_F(StartActionTest, AFolderSomeoneElseMadeFirstIsRefusedBeforeAnythingIsWritten) {
  TForm1& form = ReadyToInstall(FFolder);
  GPlanted = FFolder;
  CreateDirectoryProc = &PlantBeforeUs;
  GetFileSecurityProc = &PlantedIsSomeoneElses;
  std::string raised;
  try {
    form.Button14Click(nullptr);
  } catch (const std::exception& error) {
    raised = error.what();
  }
  CreateDirectoryProc = &CreateDirectoryA;
  GetFileSecurityProc = &GetFileSecurityA;
  EXPECT_EQ(raised, InvalidFolderText(FFolder, "other users can change it"));
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((FFolder + "\\*").c_str(), &found);
  int entries = 0;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
    ++entries;
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  EXPECT_EQ(entries, 2) << "only . and .., nothing staged";
  EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_TRUE(IsWindowVisible(form.Panel5->Handle()));
}

TEST_F(StartActionTest, StartWhileAnotherChangeRunsChangesNothing) {
  TForm1& form = ReadyToInstall(FFolder);
  // Held by another thread: the mutex is the thread's, and this one's own
  // would be taken again.
  const HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread other([&] {
    const TChangeLock lock;
    SetEvent(taken);
    WaitForSingleObject(release, 30000);
  });
  WaitForSingleObject(taken, 30000);
  TBoxAnswerer boxes;
  form.Button14Click(nullptr);
  const std::vector<std::string> texts = boxes.Texts();
  SetEvent(release);
  other.join();
  CloseHandle(taken);
  CloseHandle(release);
  EXPECT_EQ(texts, std::vector<std::string>{SChangeLockBusy});
  EXPECT_FALSE(PathExists(FFolder));
  EXPECT_TRUE(IsWindowVisible(form.Panel5->Handle()));
  EXPECT_FALSE(Ended());
}

TEST_F(StartActionTest, SameFileComparesIdentityNotSpelling) {
  const std::string file = FRoot + "\\Long File Name.dll";
  WriteText(file, "x");
  WriteText(FRoot + "\\other.dll", "x");
  char shortName[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameA(file.c_str(), shortName, sizeof shortName), 0u);
  ASSERT_NE(std::string(shortName), file);
  EXPECT_TRUE(SameFile(shortName, file));
  EXPECT_TRUE(SameFile(FRoot + "\\.\\LONG FILE NAME.DLL", file));
  EXPECT_FALSE(SameFile(FRoot + "\\other.dll", file)) << "same content, another file";
  EXPECT_FALSE(SameFile(FRoot + "\\missing.dll", file));
  EXPECT_FALSE(SameFile("", file));
}
