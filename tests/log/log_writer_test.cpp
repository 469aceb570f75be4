// The log writer against real files in a temporary folder, with a clock the test sets.
#include <filesystem>

#include "common/valid_utf8.h"
#include "log/log_writer_fixture.h"
#include "support/log_tail.h"

namespace velquora::log {
namespace {

namespace fs = std::filesystem;
using test::ReadText;

TEST_F(LogWriterTest, NothingAtDetailZeroNotEvenTheFolder) {
  writer_.Write(u"Exception", u"text", LogLevel::kError);
  EXPECT_FALSE(fs::exists(dir_ / "logs"));
}

TEST_F(LogWriterTest, HeaderOnceThenRecordsInTheirFormat) {
  writer_.SetLogDetail(3);
  writer_.Write(u"Exception", u"Сбой", LogLevel::kError);
  writer_.Write(u"Данные обмена -> ", u"F2 25 ", LogLevel::kDebug);
  writer_.Write(u"Caption", u"", LogLevel::kInfo);
  writer_.Write(u"Caption", u"   ", LogLevel::kInfo);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], std::string(40, ' '));
  EXPECT_EQ(lines[1], "============Start log=============");
  EXPECT_EQ(lines[2].rfind("OS version:\t", 0), 0u);
  EXPECT_NE(lines[2].find(" ("), std::string::npos);
  EXPECT_EQ(lines[3].rfind("Application:\t", 0), 0u);
  EXPECT_EQ(lines[4].rfind("App. version:\t", 0), 0u);
  EXPECT_EQ(lines[5], std::string(40, ' '));
  EXPECT_EQ(lines[6], "2024.03.05 14:07:09.042\tERROR\tException: \tСбой");
  EXPECT_EQ(lines[7], "2024.03.05 14:07:09.042\tDEBUG\tДанные обмена ->: \tF2 25");
  EXPECT_EQ(lines[8], "2024.03.05 14:07:09.042\tINFO\tCaption");
  EXPECT_EQ(lines[9], "2024.03.05 14:07:09.042\tINFO\tCaption: \t");
  EXPECT_EQ(ReadText(File()).substr(0, 3), std::string(40, ' ').substr(0, 3))
      << "no byte-order mark";
}

TEST_F(LogWriterTest, DetailLevelsFilterRecords) {
  writer_.SetLogDetail(1);
  writer_.Write(u"a", u"", LogLevel::kDebug);
  writer_.Write(u"b", u"", LogLevel::kInfo);
  writer_.Write(u"c", u"", LogLevel::kError);
  writer_.SetLogDetail(2);
  writer_.Write(u"d", u"", LogLevel::kDebug);
  writer_.Write(u"e", u"", LogLevel::kInfo);
  std::string text = ReadText(File());
  EXPECT_EQ(text.find("\ta\r"), std::string::npos);
  EXPECT_EQ(text.find("\tb\r"), std::string::npos);
  EXPECT_NE(text.find("\tc\r"), std::string::npos);
  EXPECT_EQ(text.find("\td\r"), std::string::npos);
  EXPECT_NE(text.find("\te\r"), std::string::npos);
}

TEST_F(LogWriterTest, SwitchingOffWritesTheFooterAndOnAgainANewHeader) {
  writer_.SetLogDetail(3);
  writer_.Write(u"one", u"", LogLevel::kDebug);
  writer_.SetLogDetail(0);
  writer_.SetLogDetail(3);
  writer_.Write(u"two", u"", LogLevel::kDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[7], "============Stop log===============");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[10], "============Start log=============");
}

TEST_F(LogWriterTest, ANewDayGoesToANewFileWithoutHeader) {
  writer_.SetLogDetail(3);
  clock_.now = {2024, 3, 5, 23, 59, 59, 999};
  writer_.Write(u"late", u"", LogLevel::kDebug);
  clock_.now = {2024, 3, 6, 0, 0, 0, 0};
  writer_.Write(u"early", u"", LogLevel::kDebug);
  EXPECT_EQ(Lines(File()).size(), 7u);
  EXPECT_EQ(Lines(File("192_168_0_10_2024.03.06.log")),
            std::vector<std::string>{"2024.03.06 00:00:00.000\tDEBUG\tearly"});
}

TEST_F(LogWriterTest, NamePartAndFolderRules) {
  writer_.SetLogFileName("192.168.0.10");
  EXPECT_EQ(writer_.LogFilePath(), File("192.168.0_2024.03.05.log"));
  writer_.SetLogFileName("sub/dir/name.ext");
  EXPECT_EQ(writer_.LogFilePath(), File("name_2024.03.05.log"));
  writer_.SetLogFileName(dir_ / "fixed.txt");
  EXPECT_EQ(writer_.LogFilePath(), dir_ / "fixed.txt");
  EXPECT_EQ(writer_.LogFolderPath(), dir_ / "fixed.txt");
  writer_.SetLogFileName("w_velquora");
  writer_.SetLogFolder("");
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(writer_.LogFolderPath(), dir_.path() + sep + "Korvanta" + sep + "w_velquora" + sep);
  writer_.SetLogFolder("relative/folder");
  EXPECT_EQ(writer_.LogFolderPath(), dir_.path() + sep + "relative/folder" + sep);
}

// The real file system, except for appends whose outcomes the test scripts.
class ScriptedAppends : public platform::FileSystem {
 public:
  bool DirectoryExists(const std::string& p) override { return real_.DirectoryExists(p); }
  bool FileExists(const std::string& p) override { return real_.FileExists(p); }
  void CreateDirectories(const std::string& p) override { real_.CreateDirectories(p); }
  void GrantEveryoneFullAccess(const std::string& p) override { real_.GrantEveryoneFullAccess(p); }
  platform::AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                                         const platform::AppendOptions& options) override {
    waits.push_back(options.lock_wait.count());
    if (!script.empty()) {
      platform::AppendStatus status = script.front();
      script.erase(script.begin());
      if (status != platform::AppendStatus::kWritten)
        return {status, "scripted " + std::to_string(static_cast<int>(status))};
    }
    return real_.AppendExclusive(path, bytes, options);
  }
  std::vector<std::string> ListNames(const std::string& f) override { return real_.ListNames(f); }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string& p) override {
    return real_.LastWriteTimeNs(p);
  }
  std::string ReadAll(const std::string& p) override { return real_.ReadAll(p); }
  bool CreatePrivateDirectory(const std::string& p) override {
    return real_.CreatePrivateDirectory(p);
  }
  void WriteFile(const std::string& p, std::string_view b) override { real_.WriteFile(p, b); }
  void RemoveAll(const std::string& p) override { real_.RemoveAll(p); }

  std::vector<platform::AppendStatus> script;
  std::vector<long> waits;  // the lock wait of every append, in ms

 private:
  platform::FileSystem& real_ = platform::RealFileSystem();
};

// The folder is found and checked once, not for every record: when it goes away, the next
// record makes it again and is written, as before, and a day change still starts a new file.
TEST_F(LogWriterTest, ARemovedFolderIsMadeAgainWithoutLosingARecord) {
  writer_.SetLogDetail(3);
  writer_.Write(u"first", u"", LogLevel::kDebug);
  fs::remove_all(dir_ / "logs");
  writer_.Write(u"second", u"", LogLevel::kDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(24), "DEBUG\tsecond");
  clock_.now.day = 6;
  writer_.Write(u"third", u"", LogLevel::kDebug);
  lines = Lines(File("192_168_0_10_2024.03.06.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(24), "DEBUG\tthird");
  writer_.SetLogFileName("10_0_0_1");
  writer_.Write(u"fourth", u"", LogLevel::kDebug);
  EXPECT_EQ(Lines(File("10_0_0_1_2024.03.06.log")).size(), 1u) << "a new name, a new file";
}

class LogTroubleTest : public LogWriterTest {
 protected:
  LogTroubleTest() {
    scripted_.SetLogFolder(dir_ / "logs");
    scripted_.SetLogFileName("192_168_0_10");
  }
  ScriptedAppends fs_;
  LogWriter scripted_{fs_, clock_, [this] { return dir_.path(); }, [this] { return dir_.path(); }};
};

TEST_F(LogTroubleTest, DroppedRecordsAreCountedAndReportedBeforeTheNextWrittenOne) {
  using S = platform::AppendStatus;
  scripted_.SetLogDetail(3);
  scripted_.Write(u"first", u"", LogLevel::kDebug);  // header and record written
  fs_.script = {S::kBusy, S::kRefused, S::kFailed, S::kFailed};
  for (const char16_t* lost : {u"a", u"b", u"c", u"d"})
    EXPECT_NO_THROW(scripted_.Write(u"lost", lost, LogLevel::kDebug));
  scripted_.Write(u"next", u"", LogLevel::kDebug);
  scripted_.Write(u"after", u"", LogLevel::kDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6].substr(24), "DEBUG\tfirst");
  EXPECT_EQ(lines[7].substr(24),
            "ERROR\tLog: \t4 records not written: 1 busy (scripted 1), 1 refused (scripted 2), "
            "2 failed (scripted 3)");
  EXPECT_EQ(lines[8].substr(24), "DEBUG\tnext");
  EXPECT_EQ(lines[9].substr(24), "DEBUG\tafter") << "the count starts again";
  // After the busy lock the next appends tried once without waiting, until one got through.
  EXPECT_EQ(fs_.waits, (std::vector<long>{50, 50, 50, 0, 0, 0, 0, 50}));
}

TEST_F(LogTroubleTest, SwitchingOffCannotFailWhenTheFooterIsLost) {
  using S = platform::AppendStatus;
  scripted_.SetLogDetail(3);
  fs_.script = {S::kFailed, S::kFailed, S::kFailed};  // header, record, footer
  scripted_.Write(u"lost", u"", LogLevel::kDebug);
  EXPECT_NO_THROW(scripted_.SetLogDetail(0));
  EXPECT_EQ(scripted_.LogDetail(), 0);
  EXPECT_FALSE(std::filesystem::exists(File()));
  scripted_.SetLogDetail(3);
  scripted_.Write(u"back", u"", LogLevel::kDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], "============Start log=============") << "the header still comes first";
  EXPECT_EQ(lines[6].substr(24), "ERROR\tLog: \t3 records not written: 3 failed (scripted 3)");
  EXPECT_EQ(lines[7].substr(24), "DEBUG\tback");
}

TEST_F(LogWriterTest, LoneSurrogatesAreWrittenAsReplacementCharacters) {
  writer_.SetLogDetail(3);
  std::u16string caption = u"> Method";
  caption += char16_t(0xD800);
  std::u16string text = u"Params: [";
  text += char16_t(0xDC00);
  text += u"Сыр]";
  writer_.Write(caption, text, LogLevel::kDebug);
  std::string file = ReadText(File());
  EXPECT_EQ(ValidUtf8(file), file);
  EXPECT_EQ(Lines(File())[6].substr(24),
            "DEBUG\t> Method\xEF\xBF\xBD: \tParams: [\xEF\xBF\xBDСыр]");
}

class FailingFolders : public platform::FileSystem {
 public:
  bool DirectoryExists(const std::string&) override { return false; }
  bool FileExists(const std::string&) override { return false; }
  void CreateDirectories(const std::string& path) override {
    throw std::runtime_error("Permission denied: " + path);
  }
  void GrantEveryoneFullAccess(const std::string&) override {}
  platform::AppendResult AppendExclusive(const std::string&, std::string_view,
                                         const platform::AppendOptions&) override {
    appended = true;
    return {};
  }
  std::vector<std::string> ListNames(const std::string&) override { return {}; }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string&) override { return std::nullopt; }
  std::string ReadAll(const std::string&) override { return {}; }
  bool CreatePrivateDirectory(const std::string&) override { return false; }
  void WriteFile(const std::string&, std::string_view) override {}
  void RemoveAll(const std::string&) override {}
  bool appended = false;
};

TEST(LogWriterFailure, AFolderThatCannotBeCreatedDropsRecordsQuietly) {
  FailingFolders fs;
  FixedClock clock;
  LogWriter writer(fs, clock, [] { return std::string("/nowhere"); });
  writer.SetLogDetail(3);
  EXPECT_NO_THROW(writer.Write(u"x", u"", LogLevel::kError));
  EXPECT_FALSE(fs.appended);
  EXPECT_EQ(writer.LogDetail(), 3);
  EXPECT_THROW(writer.LogFolderPath(), std::runtime_error) << "asked for, it still raises";
}

}  // namespace
}  // namespace velquora::log
