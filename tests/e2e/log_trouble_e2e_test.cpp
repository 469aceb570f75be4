// Whatever another user of the machine does to today's log file, the host's calls answer as
// they would without a log, and at once; nothing behind a planted name is touched.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>

#include "e2e/e2e_fixture.h"
#include "support/temp_dir.h"
#include "support/xml_tree.h"

namespace velquora::e2e {
namespace {

namespace fs = std::filesystem;

// Today's log file for `address`, as the writer names it.
std::string TodaysLog(const std::string& folder, const std::string& address) {
  std::string name = address;
  std::replace(name.begin(), name.end(), '.', '_');
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y.%m.%d", &local);
  return folder + name + "_" + date + ".log";
}

struct Trouble {
  const char* name;
  const char* address;
  std::function<void(const std::string& file)> plant;
  // Releases whatever `plant` holds, also when the calls hang on it.
  std::function<void(const std::string& file)> release;
  const char* reported;  // the kind of failure the log reports afterwards
};

class LogTroubleTest : public DriverTest {
 protected:
  std::string LogFolder() {
    return test::ParseXml(ToUtf8(Out(u"GetDescription"))).root.Attr("LogPath");
  }

  // The host's round with logging on: open, upload, ask for the error, switch off, close.
  // Every answer is what it would be without a log.
  void HostRound() {
    Set(u"LogEnabled", true);
    Set(u"ExtLogEnabled", true);
    EXPECT_TRUE(Open());
    EXPECT_TRUE(
        Goods(u"<Table><Record PLU=\"1\" Code=\"1\" EANData=\"2401234\" Name=\"Сыр\" "
              u"GroupCode=\"3\" Price=\"10\" SellByDate=\"5\" SellByTime=\"0\" "
              u"PLUTare=\"0\"/></Table>"))
        << ErrorUtf8();
    CallResult error = d_->Call(u"GetLastError", {std::u16string()});
    EXPECT_TRUE(error.ok);
    EXPECT_EQ(error.result, Value(std::int32_t{0}));
    Set(u"LogEnabled", false);
    EXPECT_TRUE(Open());  // switches logging off: the footer cannot be written either
    EXPECT_TRUE(Call(u"Close"));
  }

  test::TempDir dir_;
  int stranger_ = -1;
  rlimit file_size_{};
  void (*old_xfsz_)(int) = SIG_DFL;
};

TEST_F(LogTroubleTest, ALogThatCannotBeWrittenNeitherFailsNorHoldsUpHostCalls) {
  const std::string folder = LogFolder();
  std::size_t size_before = 0;
  const Trouble troubles[] = {
      {"a link planted under today's name", "127.0.0.41",
       [&](const std::string& file) {
         test::WriteText(dir_ / "victim", "precious");
         fs::create_symlink(dir_ / "victim", file);
       },
       [](const std::string&) {}, "refused (Not a regular file"},
      {"a named pipe under today's name", "127.0.0.42",
       [](const std::string& file) { ASSERT_EQ(mkfifo(file.c_str(), 0666), 0); },
       // Opened from both ends a pipe never blocks; this frees an open stuck on it.
       [](const std::string& file) { close(open(file.c_str(), O_RDWR | O_NONBLOCK)); },
       "refused (Not a regular file"},
      {"a lock another process keeps", "127.0.0.43",
       [&](const std::string& file) {
         test::WriteText(file, "");
         stranger_ = open(file.c_str(), O_RDONLY);
         ASSERT_EQ(flock(stranger_, LOCK_EX), 0);
       },
       [&](const std::string&) {
         if (stranger_ >= 0) close(stranger_);
         stranger_ = -1;
       },
       "busy (Log file is busy"},
      // The file size limit fails writes as a full disk does, after storing what fits.
      {"a full disk", "127.0.0.44",
       [&](const std::string& file) {
         test::WriteText(file, "earlier record\r\n");
         size_before = fs::file_size(file);
         old_xfsz_ = std::signal(SIGXFSZ, SIG_IGN);
         getrlimit(RLIMIT_FSIZE, &file_size_);
         rlimit full = file_size_;
         full.rlim_cur = static_cast<rlim_t>(size_before + 10);
         ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
       },
       [&](const std::string&) {
         setrlimit(RLIMIT_FSIZE, &file_size_);
         std::signal(SIGXFSZ, old_xfsz_);
       },
       "failed (Cannot write log file"},
  };
  for (const Trouble& trouble : troubles) {
    SCOPED_TRACE(trouble.name);
    StartScale(trouble.address);
    const std::string file = TodaysLog(folder, trouble.address);
    fs::remove(file);
    trouble.plant(file);

    auto start = std::chrono::steady_clock::now();
    auto round = std::async(std::launch::async, [&] { HostRound(); });
    bool hung = round.wait_for(std::chrono::seconds(10)) != std::future_status::ready;
    auto took = std::chrono::steady_clock::now() - start;
    trouble.release(file);
    round.wait();
    ASSERT_FALSE(hung) << "the host's calls hung on the log";
    // Each call waits for a busy lock once at most (50 ms), the rest is the scale's work.
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(Plu().size(), 1u) << "the scale got the goods";
    if (fs::is_symlink(file)) {
      EXPECT_EQ(test::ReadText(dir_ / "victim"), "precious");
    }
    if (size_before) {
      EXPECT_EQ(fs::file_size(file), size_before) << "no torn record is left";
    }

    // Once the file can be written again, the first record says what was lost and why.
    fs::remove(file);
    Set(u"LogEnabled", true);
    EXPECT_TRUE(Open());
    std::string text = test::ReadText(file);
    std::size_t report = text.find("\tERROR\tLog: \t");
    ASSERT_NE(report, std::string::npos) << text;
    EXPECT_NE(text.find(trouble.reported, report), std::string::npos) << text;
    Set(u"LogEnabled", false);
    EXPECT_TRUE(Open());
    size_before = 0;
  }
}

// Call traces write every argument; a host string may hold a lone surrogate.
TEST_F(LogTroubleTest, ALoneSurrogateInAnArgumentIsLoggedAsAReplacementCharacter) {
  StartScale("127.0.0.45");
  const std::string file = TodaysLog(LogFolder(), "127.0.0.45");
  fs::remove(file);
  Set(u"LogEnabled", true);
  ASSERT_TRUE(Open());
  std::u16string number = u"1";
  number += char16_t(0xD800);
  EXPECT_FALSE(Call(u"DeleteGood", {number}));
  Set(u"LogEnabled", false);
  ASSERT_TRUE(Open());
  std::string text = test::ReadText(file);
  EXPECT_NE(text.find("> DeleteGood: \tParams: [1\xEF\xBF\xBD]"), std::string::npos) << text;
  EXPECT_EQ(text.find("\xED\xA0\x80"), std::string::npos);
}

}  // namespace
}  // namespace velquora::e2e
