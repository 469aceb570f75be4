// Where the user's own data goes, whatever the host's environment and umask.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/system_info.h"
#include "support/temp_dir.h"

namespace velquora::platform {
namespace {

// Sets or removes one variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string AccountHome() {
  passwd* entry = getpwuid(getuid());
  return entry && entry->pw_dir ? entry->pw_dir : "";
}

TEST(UserDataFolder, AHomeThatIsNotARootedPathIsTheAccountsHome) {
  ScopedVariable xdg("XDG_DATA_HOME", nullptr);
  const std::string expected = AccountHome() + "/.local/share";
  ASSERT_NE(AccountHome(), "");
  for (const char* home : {static_cast<const char*>(nullptr), "", "relative", "./x"}) {
    ScopedVariable variable("HOME", home);
    EXPECT_EQ(SpecialFolderPath(SpecialFolder::kUserAppData, false), expected)
        << (home ? home : "(unset)");
  }
  ScopedVariable rooted("HOME", "/somewhere/else/");
  EXPECT_EQ(SpecialFolderPath(SpecialFolder::kUserAppData, false), "/somewhere/else/.local/share");
}

TEST(UserDataFolder, FoldersMadeForItAreTheUsersAloneUnderAnyUmask) {
  test::TempDir dir;
  ScopedVariable xdg("XDG_DATA_HOME", nullptr);
  ScopedVariable home("HOME", dir.path().c_str());
  mode_t old = umask(0);
  auto folder = SpecialFolderPath(SpecialFolder::kUserAppData, true);
  umask(old);
  ASSERT_TRUE(folder);
  for (const std::string& made : {dir.path() + "/.local", dir.path() + "/.local/share"}) {
    struct stat st {};
    ASSERT_EQ(stat(made.c_str(), &st), 0) << made;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
  }
}

}  // namespace
}  // namespace velquora::platform
