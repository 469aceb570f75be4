// The helper program carried inside the library: written once into the user's private cache
// folder, checked before every start, replaced (never run) when the file there differs.
#include "platform/carried_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace velquora::platform {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// The "program" is the system shell, so the test can see what ran and with which arguments.
class CarriedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadBytes("/bin/sh");
    ASSERT_FALSE(image_.empty());
    const char* old = std::getenv("XDG_CACHE_HOME");
    if (old) saved_ = old;
    had_ = old != nullptr;
    setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    folder_ = dir_ / "cache/Korvanta/w_velquora";
    file_ = folder_ + "/" + CarriedProgramFileName("test-shell", image_);
  }
  void TearDown() override {
    if (had_)
      setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
    else
      unsetenv("XDG_CACHE_HOME");
  }

  ProcessResult Run(const std::string& script) {
    return RunCarriedProgram("test-shell", image_, {"-c", script});
  }

  test::TempDir dir_;
  std::string image_, folder_, file_, saved_;
  bool had_ = false;
};

TEST_F(CarriedProgram, WritesItOnceIntoAPrivateFolderAndRunsIt) {
  EXPECT_EQ(CarriedProgramFolder(), folder_);
  ProcessResult first = Run("echo \"ran $0 $1\" >&2; exit 3");
  EXPECT_EQ(first.exit_code, 3);
  EXPECT_EQ(first.error_output.rfind("ran ", 0), 0u) << first.error_output;
  EXPECT_EQ(ReadBytes(file_), image_);
  EXPECT_EQ(Stat(folder_).st_mode & 07777, 0700u);
  EXPECT_EQ(Stat(dir_ / "cache/Korvanta").st_mode & 07777, 0700u);
  EXPECT_EQ(Stat(file_).st_mode & 07777, 0700u);

  struct stat before = Stat(file_);
  ProcessResult second = Run("exit 0");
  EXPECT_EQ(second.exit_code, 0);
  struct stat after = Stat(file_);
  EXPECT_EQ(after.st_ino, before.st_ino) << "an intact copy is reused, not rewritten";
  EXPECT_EQ(after.st_mtime, before.st_mtime);
}

TEST_F(CarriedProgram, AChangedOrForeignFileIsReplacedNotRun) {
  ASSERT_EQ(Run("exit 0").exit_code, 0);
  std::string marker = dir_ / "marker";
  std::string planted = "#!/bin/sh\ntouch " + marker + "\n";
  struct Case {
    const char* what;
    void (*plant)(const std::string& file, const std::string& content, const std::string& dir);
  };
  const Case cases[] = {
      {"changed in place",
       [](const std::string& file, const std::string& content, const std::string&) {
         test::WriteText(file, content);
         chmod(file.c_str(), 0700);
       }},
      {"same size, one byte changed",
       [](const std::string& file, const std::string&, const std::string&) {
         std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(100);
         f.put('\x7f');
       }},
      {"a link to another program",
       [](const std::string& file, const std::string& content, const std::string& dir) {
         test::WriteText(dir + "/other", content);
         chmod((dir + "/other").c_str(), 0700);
         unlink(file.c_str());
         ASSERT_EQ(symlink((dir + "/other").c_str(), file.c_str()), 0);
       }},
      {"open to other users", [](const std::string& file, const std::string&,
                                 const std::string&) { chmod(file.c_str(), 0777); }},
  };
  for (const auto& c : cases) {
    c.plant(file_, planted, dir_.path());
    ProcessResult result = Run("echo genuine >&2");
    EXPECT_EQ(result.exit_code, 0) << c.what;
    EXPECT_EQ(result.error_output, "genuine\n") << c.what;
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << c.what << ": the planted program ran";
    EXPECT_TRUE(S_ISREG(Stat(file_).st_mode)) << c.what;
    EXPECT_EQ(Stat(file_).st_mode & 07777, 0700u) << c.what;
    EXPECT_EQ(ReadBytes(file_), image_) << c.what;
  }
}

TEST_F(CarriedProgram, AFolderOpenToOthersIsClosedAndALinkInItsPlaceRefused) {
  std::string vendor = dir_ / "cache/Korvanta";
  ASSERT_EQ(mkdir((dir_ / "cache").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(vendor.c_str(), 0777), 0);
  chmod(vendor.c_str(), 0777);
  EXPECT_EQ(Run("exit 0").exit_code, 0);
  EXPECT_EQ(Stat(vendor).st_mode & 07777, 0700u);

  // Somebody's folder linked in where ours belongs: refused, nothing written there.
  std::string elsewhere = dir_ / "elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  test::TempDir fresh;
  setenv("XDG_CACHE_HOME", fresh.path().c_str(), 1);
  ASSERT_EQ(mkdir((fresh / "Korvanta").c_str(), 0700), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), (fresh / "Korvanta/w_velquora").c_str()), 0);
  EXPECT_THROW(Run("exit 0"), std::runtime_error);
  EXPECT_NE(access((elsewhere + "/" + CarriedProgramFileName("test-shell", image_)).c_str(), F_OK),
            0);
}

TEST_F(CarriedProgram, AMissingSystemLibraryIsNamedInTheMessage) {
  ProcessResult result =
      Run("echo 'viewer: error while loading shared libraries: libgtk-3.so.0: cannot open shared "
          "object file: No such file or directory' >&2; exit 127");
  EXPECT_EQ(result.exit_code, 127);
  EXPECT_NE(result.error_output.find("libgtk-3.so.0"), std::string::npos) << result.error_output;
  EXPECT_NE(result.error_output.find("нет на этом компьютере"), std::string::npos)
      << result.error_output;
}

}  // namespace
}  // namespace velquora::platform
