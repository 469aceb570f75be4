// The Windows side of the seams, checked where Linux checks its own: rights of the shared log
// folder, the version resource, appends, special folders.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/carried_program.h"
#include "platform/file_system.h"
#include "platform/library_file.h"
#include "platform/system_info.h"
#include "platform/win/log_folder_rights.h"
#include "support/temp_dir.h"

namespace velquora {
namespace {

std::string Narrow(const std::wstring& s) {
  return ToUtf8(std::u16string(s.begin(), s.end()));
}

std::wstring Wide(const std::string& s) {
  std::u16string wide = ToUtf16(s);
  return std::wstring(wide.begin(), wide.end());
}

struct Entry {
  std::wstring sid;
  BYTE flags;
  ACCESS_MASK mask;
};

// The entries of a security descriptor's access list.
std::vector<Entry> EntriesOf(PSECURITY_DESCRIPTOR sd, bool& is_protected) {
  std::vector<Entry> entries;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  is_protected = (control & SE_DACL_PROTECTED) != 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) continue;
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(&ace->SidStart, &text);
    entries.push_back({text ? text : L"", ace->Header.AceFlags, ace->Mask});
    LocalFree(text);
  }
  return entries;
}

const Entry* Find(const std::vector<Entry>& entries, const wchar_t* sid, bool inherit_only) {
  for (const auto& e : entries)
    if (e.sid == sid && ((e.flags & INHERIT_ONLY_ACE) != 0) == inherit_only) return &e;
  return nullptr;
}

// Every user may add log files and append to them; nobody may delete or replace another's:
// what the sticky, world-writable folder gives on Linux. (Wine keeps no access lists on files,
// so the list itself is checked here, and applying it to a real folder.)
TEST(WindowsSeams, TheLogFolderLetsEveryUserAppendButNotDeleteOthersFiles) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(platform::win::kLogFolderRights,
                                                                   SDDL_REVISION_1, &sd, nullptr));
  bool is_protected = false;
  std::vector<Entry> entries = EntriesOf(sd, is_protected);
  LocalFree(sd);
  EXPECT_TRUE(is_protected);

  const wchar_t* kEveryone = L"S-1-1-0";
  const wchar_t* kCreatorOwner = L"S-1-3-0";
  const Entry* here = Find(entries, kEveryone, false);
  ASSERT_NE(here, nullptr);
  EXPECT_EQ(here->flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), 0);
  EXPECT_EQ(here->mask & (FILE_ADD_FILE | FILE_LIST_DIRECTORY | FILE_TRAVERSE),
            static_cast<ACCESS_MASK>(FILE_ADD_FILE | FILE_LIST_DIRECTORY | FILE_TRAVERSE));
  EXPECT_EQ(here->mask & (DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL), 0u);

  const Entry* files = Find(entries, kEveryone, true);
  ASSERT_NE(files, nullptr);
  EXPECT_TRUE(files->flags & OBJECT_INHERIT_ACE);
  EXPECT_FALSE(files->flags & CONTAINER_INHERIT_ACE);
  EXPECT_TRUE(files->mask & FILE_APPEND_DATA);
  EXPECT_TRUE(files->mask & FILE_READ_DATA);
  EXPECT_EQ(files->mask & (FILE_WRITE_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL), 0u);

  const Entry* owner = Find(entries, kCreatorOwner, true);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(owner->mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
  EXPECT_TRUE(owner->flags & OBJECT_INHERIT_ACE);

  // Nobody else is named: no user, no local group by name.
  for (const auto& e : entries) {
    EXPECT_TRUE(e.sid == kEveryone || e.sid == kCreatorOwner || e.sid == L"S-1-5-18" ||
                e.sid == L"S-1-5-32-544")
        << Narrow(e.sid);
  }

  // Applied to a real folder, it still lets its creator write logs there.
  test::TempDir dir;
  std::string folder = dir.path() + "\\Korvanta\\w_velquora";
  auto& fs = platform::RealFileSystem();
  fs.CreateDirectories(folder);
  fs.GrantEveryoneFullAccess(folder);
  fs.GrantEveryoneFullAccess(folder);
  const platform::AppendOptions shared{std::chrono::milliseconds(100), true};
  EXPECT_EQ(fs.AppendExclusive(folder + "\\a.log", "one\r\n", shared).status,
            platform::AppendStatus::kWritten);
  EXPECT_EQ(fs.AppendExclusive(folder + "\\a.log", "two\r\n", shared).status,
            platform::AppendStatus::kWritten);
  EXPECT_EQ(fs.ReadAll(folder + "\\a.log"), "one\r\ntwo\r\n");
}

TEST(WindowsSeams, TheDllCarriesTheProjectVersionInItsResource) {
  EXPECT_EQ(platform::FileVersionText(VELQUORA_BIN_DIR "/w_velquora.dll"), VELQUORA_VERSION);
  EXPECT_EQ(platform::FileVersionText(VELQUORA_SOURCE_DIR "/README.md"), "0.0.0.0");
  EXPECT_EQ(platform::FileVersionText(VELQUORA_BIN_DIR "/no-such.dll"), "0.0.0.0");
}

TEST(WindowsSeams, FilesAreReachedByUnicodeNamesAndFoldersAreNotFollowedOrWritten) {
  test::TempDir dir;
  auto& fs = platform::RealFileSystem();
  std::string name = dir.path() + "\\Журнал ✓.log";
  EXPECT_EQ(fs.AppendExclusive(name, "x", {}).status, platform::AppendStatus::kWritten);
  EXPECT_TRUE(fs.FileExists(name));
  EXPECT_EQ(fs.ReadAll(name), "x");
  std::vector<std::string> names = fs.ListNames(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "Журнал ✓.log");
  EXPECT_TRUE(fs.LastWriteTimeNs(name).has_value());

  platform::AppendResult folder = fs.AppendExclusive(dir.path(), "x", {});
  EXPECT_EQ(folder.status, platform::AppendStatus::kRefused);
  EXPECT_EQ(folder.message, "Not a regular file \"" + dir.path() + "\"");
  EXPECT_THROW(fs.ReadAll(dir.path()), std::runtime_error);
  EXPECT_THROW(fs.ReadAll(dir.path() + "\\missing"), std::runtime_error);

  ASSERT_TRUE(fs.CreatePrivateDirectory(dir.path() + "\\private"));
  EXPECT_FALSE(fs.CreatePrivateDirectory(dir.path() + "\\private"));
  fs.WriteFile(dir.path() + "\\private\\page.html", "<p>");
  fs.RemoveAll(dir.path() + "\\private");
  EXPECT_FALSE(fs.DirectoryExists(dir.path() + "\\private"));
}

TEST(WindowsSeams, SpecialFoldersAndTheSystemAreKnown) {
  auto common = platform::SpecialFolderPath(platform::SpecialFolder::kCommonAppData, false);
  auto user = platform::SpecialFolderPath(platform::SpecialFolder::kUserAppData, false);
  auto temp = platform::SpecialFolderPath(platform::SpecialFolder::kTemp, false);
  ASSERT_TRUE(common && user && temp);
  for (const std::string* path : {&*common, &*user, &*temp}) {
    EXPECT_EQ(path->find(':'), 1u) << *path;
    EXPECT_NE(path->back(), '\\') << *path;
  }
  std::string system = platform::SystemDescription();
  EXPECT_NE(system, "Unknown ");
  EXPECT_NE(system.find(" ("), std::string::npos) << system;
}

// The host's inheritable handles (a file, an event) stay with the host: the carried program gets
// its error pipe and nothing else. The probe counts which of the handle values it is given are
// open in its own process; a child started to inherit everything shows that it can see them.
TEST(WindowsSeams, TheCarriedProgramInheritsNoHandleOfTheHost) {
  std::string image = test::ReadText(VELQUORA_BIN_DIR "/handle_probe.exe");
  ASSERT_FALSE(image.empty());
  test::TempDir dir;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileW(Wide(dir.path() + "\\host-file").c_str(), GENERIC_READ | GENERIC_WRITE,
                            0, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE event = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(event, nullptr);
  std::vector<std::string> values;
  for (HANDLE h : {file, event}) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)));
    values.push_back(text);
  }

  platform::ProcessResult result = platform::RunCarriedProgram("handle-probe", image, values);
  EXPECT_EQ(result.exit_code, 0) << "handles of the host open in the carried program";

  // The probe itself sees inherited handles.
  std::wstring line = L"handle_probe.exe " + Wide(values[0]) + L" " + Wide(values[1]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(Wide(VELQUORA_BIN_DIR "/handle_probe.exe").c_str(), line.data(),
                             nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child));
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(code, 2u);
  CloseHandle(event);
  CloseHandle(file);
}

// The call ends with the program's own exit, not with the end of its output: what the program
// started (here a copy of it that holds the pipe until released, as a browser might for hours)
// does not hold the caller, and the output written before the exit is all there.
TEST(WindowsSeams, ACarriedProgramEndsWithItsOwnExitWhateverItStarted) {
  std::string image = test::ReadText(VELQUORA_BIN_DIR "/output_probe.exe");
  ASSERT_FALSE(image.empty());
  std::string name = "Local\\velquora-test-release-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(GetTickCount64());
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, Wide(name).c_str());
  ASSERT_NE(release, nullptr);

  platform::ProcessResult result =
      platform::RunCarriedProgram("output-probe", image, {"hold", name});
  EXPECT_EQ(result.exit_code, 3) << result.error_output;
  unsigned long holder_pid = 0;
  ASSERT_EQ(std::sscanf(result.error_output.c_str(), "holder %lu\n", &holder_pid), 1)
      << result.error_output;
  HANDLE holder = OpenProcess(SYNCHRONIZE, FALSE, holder_pid);
  // Released only now: had the call waited for the pipe's end, the holder would have given up
  // (after its minute) and be gone.
  bool held_on = holder && WaitForSingleObject(holder, 0) == WAIT_TIMEOUT;
  SetEvent(release);
  EXPECT_TRUE(held_on) << "the call waited for what the program started";
  if (holder) {
    EXPECT_EQ(WaitForSingleObject(holder, 60000), WAIT_OBJECT_0);
    CloseHandle(holder);
  }
  CloseHandle(release);
}

// A program that writes without end cannot grow the host: its last 64 KB are kept, where a
// program says why it failed.
TEST(WindowsSeams, ACarriedProgramsOutputIsKeptToItsLast64KB) {
  std::string image = test::ReadText(VELQUORA_BIN_DIR "/output_probe.exe");
  ASSERT_FALSE(image.empty());
  platform::ProcessResult result =
      platform::RunCarriedProgram("output-probe", image, {"flood", "300000"});
  EXPECT_EQ(result.exit_code, 4);
  ASSERT_EQ(result.error_output.size(), 64u * 1024u);
  EXPECT_EQ(result.error_output.substr(result.error_output.size() - 4), "end\n");
  EXPECT_EQ(result.error_output.find_first_not_of('x'), result.error_output.size() - 4);
}

}  // namespace
}  // namespace velquora
