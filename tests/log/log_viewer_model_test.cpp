// The log window's behaviour without its widgets.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/valid_utf8.h"
#include "log/log_viewer_model.h"
#include "support/temp_dir.h"

namespace velquora::log {
namespace {

// The real file system, counting the bytes the model reads.
class CountingFileSystem final : public platform::FileSystem {
 public:
  std::uint64_t bytes_read = 0;

  bool DirectoryExists(const std::string& p) override { return real_.DirectoryExists(p); }
  bool FileExists(const std::string& p) override { return real_.FileExists(p); }
  void CreateDirectories(const std::string& p) override { real_.CreateDirectories(p); }
  void GrantEveryoneFullAccess(const std::string& p) override { real_.GrantEveryoneFullAccess(p); }
  platform::AppendResult AppendExclusive(const std::string& p, std::string_view bytes,
                                         const platform::AppendOptions& options) override {
    return real_.AppendExclusive(p, bytes, options);
  }
  std::vector<std::string> ListNames(const std::string& folder) override {
    return real_.ListNames(folder);
  }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string& p) override {
    return real_.LastWriteTimeNs(p);
  }
  std::string ReadAll(const std::string& p) override {
    std::string bytes = real_.ReadAll(p);
    bytes_read += bytes.size();
    return bytes;
  }
  platform::FileTail ReadTail(const std::string& p, std::uint64_t from,
                              std::uint64_t limit) override {
    platform::FileTail tail = real_.ReadTail(p, from, limit);
    bytes_read += tail.bytes.size();
    return tail;
  }
  bool CreatePrivateDirectory(const std::string& p) override {
    return real_.CreatePrivateDirectory(p);
  }
  void WriteFile(const std::string& p, std::string_view bytes) override {
    real_.WriteFile(p, bytes);
  }
  void RemoveAll(const std::string& p) override { real_.RemoveAll(p); }

 private:
  platform::FileSystem& real_ = platform::RealFileSystem();
};

class LogViewerModelTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    test::WriteText(dir_ / name, text);
  }
  // Appends as a writer does, and moves the file's time on, so the timer sees a change however
  // coarse the file system's clock is.
  void Append(const std::string& name, const std::string& bytes) {
    {
      std::ofstream out(dir_ / name, std::ios::binary | std::ios::app);
      out << bytes;
    }
    Touch(name);
  }
  void Touch(const std::string& name) {
    clock_ += std::chrono::seconds(1);
    std::filesystem::last_write_time(dir_ / name, clock_);
  }
  test::TempDir dir_;
  std::filesystem::file_time_type clock_ = std::filesystem::file_time_type::clock::now();
  LogViewerModel model_{platform::RealFileSystem(), dir_.path()};
};

TEST_F(LogViewerModelTest, ListsLogFilesSortedAndOpensTheLast) {
  Write("w_velquora_2024.03.05.log", "a\r\n");
  Write("192_168_0_10_2024.03.05.log", "b\r\nc\r\n");
  Write("OLD.LOG", "old");
  Write("notes.txt", "x");
  std::filesystem::create_directory(dir_ / "sub.log.d");
  model_.Open();
  EXPECT_EQ(model_.Files(), (std::vector<std::string>{"192_168_0_10_2024.03.05.log", "OLD.LOG",
                                                      "w_velquora_2024.03.05.log"}));
  EXPECT_EQ(model_.SelectedText(), "w_velquora_2024.03.05.log");
  EXPECT_EQ(model_.Text(), "a\n");
  model_.Select(0);
  EXPECT_EQ(model_.Text(), "b\nc\n");
}

TEST_F(LogViewerModelTest, AnEmptyFolderShowsNothing) {
  model_.Open();
  EXPECT_TRUE(model_.Files().empty());
  EXPECT_EQ(model_.Selected(), -1);
  EXPECT_EQ(model_.Text(), "");
  EXPECT_FALSE(model_.Tick());
}

TEST_F(LogViewerModelTest, AppendedRecordsAreReloadedByTheTimer) {
  Write("a.log", "one\r\n");
  model_.Open();
  EXPECT_FALSE(model_.Tick());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Write("a.log", "one\r\ntwo\r\n");
  EXPECT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "one\ntwo\n");
  EXPECT_FALSE(model_.Tick());
}

TEST_F(LogViewerModelTest, DroppingTheListDownClearsTheSelectionAndStopsReloading) {
  Write("a.log", "one\r\n");
  model_.Open();
  Write("b.log", "new");
  model_.DropDown();
  EXPECT_EQ(model_.Files().size(), 2u);
  EXPECT_EQ(model_.Selected(), -1);
  EXPECT_EQ(model_.Text(), "one\n") << "closing the list without a choice keeps the text";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Write("a.log", "one\r\ntwo\r\n");
  EXPECT_FALSE(model_.Tick());
}

TEST_F(LogViewerModelTest, AFileThatCannotBeReadShowsWhyAndKeepsTheText) {
  Write("a.log", "one\r\n");
  Write("b.log", "two\r\n");
  std::filesystem::create_directory(dir_ / "c.log");
  model_.Open();  // the last entry is a folder: refused, nothing shown yet
  EXPECT_EQ(model_.SelectedText(), "c.log");
  EXPECT_EQ(model_.Error(), "Not a regular file \"" + dir_ / "c.log\"");
  EXPECT_EQ(model_.Text(), "");
  model_.Select(1);
  EXPECT_EQ(model_.Text(), "two\n");
  EXPECT_EQ(model_.Error(), "");
  std::filesystem::remove(dir_ / "a.log");
  model_.Select(0);
  EXPECT_EQ(model_.Error().rfind("Cannot open file \"" + dir_ / "a.log\": ", 0), 0u)
      << model_.Error();
  EXPECT_EQ(model_.Text(), "two\n");
  EXPECT_FALSE(model_.Tick()) << "the timer skips a file that has gone";
  model_.Select(2);
  EXPECT_EQ(model_.Error(), "Not a regular file \"" + dir_ / "c.log\"");
  EXPECT_EQ(model_.Text(), "two\n");
}

TEST_F(LogViewerModelTest, IllFormedBytesAreShownReplacedNeverBlank) {
  Write("a.log", "> Method: \tParams: [\xED\xA0\x80\xD0\xA1\xD1\x8B\xD1\x80]\r\ntail\xD0");
  model_.Open();
  EXPECT_EQ(model_.Text(), "> Method: \tParams: [\uFFFD\uFFFD\uFFFDСыр]\ntail\uFFFD");
  EXPECT_EQ(model_.Error(), "");
}

TEST_F(LogViewerModelTest, ANulByteIsShownAsAReplacementNotAsTheEndOfTheText) {
  Write("a.log", std::string("one\0two\r\nthree\0", 15));
  model_.Open();
  EXPECT_EQ(model_.Text(), "one\uFFFDtwo\nthree\uFFFD");
  Append("a.log", std::string("\0\r\n", 3));
  ASSERT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "one\uFFFDtwo\nthree\uFFFD\uFFFD\n");
}

// A huge file in the folder (sparse: 64 MB of NUL, then records) costs the viewer no more than
// its last part, shown from a line start under a line saying the start was skipped.
TEST_F(LogViewerModelTest, ABigFileIsShownFromItsLastPartOnly) {
  Write("zzzz.log", "");
  std::filesystem::resize_file(dir_ / "zzzz.log", 64u << 20);
  std::string records;
  for (int i = 0; i < 1000; ++i) records += "record " + std::to_string(i) + "\r\n";
  Append("zzzz.log", records);
  CountingFileSystem fs;
  LogViewerModel model(fs, dir_.path());
  model.Open();
  EXPECT_LE(fs.bytes_read, LogViewerModel::kShownBytes);
  std::string expected = "[Начало файла пропущено: показаны последние 4 МБ из 64 МБ]\n";
  for (int i = 1; i < 1000; ++i) expected += "record " + std::to_string(i) + "\n";
  EXPECT_EQ(model.Text(), expected);
}

// A text widget lays a line out whole (a line of 4 MB cost the GTK window half a gigabyte): a
// longer line is shown in pieces, each of whole characters, also as it grows tick by tick.
TEST_F(LogViewerModelTest, ALineOfMegabytesIsShownInPieces) {
  const std::string line = std::string(200 << 10, 'x') + std::string(100 << 10, '\0');
  Write("a.log", "first\r\n" + line);
  model_.Open();
  Append("a.log", line + "\r\nlast\r\n");
  ASSERT_TRUE(model_.Tick());
  std::string joined;
  std::size_t pieces = 0;
  std::istringstream lines(model_.Text());
  for (std::string piece; std::getline(lines, piece);) {
    EXPECT_LE(piece.size(), LogViewerModel::kLineBytes);
    EXPECT_EQ(ValidUtf8(piece), piece);
    joined += piece;
    ++pieces;
  }
  std::string expected;
  for (char c : line + line) expected += c == '\0' ? std::string("\uFFFD") : std::string(1, c);
  EXPECT_EQ(joined, "first" + expected + "last");
  EXPECT_EQ(pieces,
            2 + (expected.size() + LogViewerModel::kLineBytes - 1) / LogViewerModel::kLineBytes);
}

// Each tick reads only what was appended and adds it to the text (same generation); a file cut
// short or replaced by another under its name, or grown by more than one read takes in, is
// loaded afresh.
TEST_F(LogViewerModelTest, TheTimerReadsOnlyWhatWasAppended) {
  std::string big;
  while (big.size() < (1u << 20)) big += "2026.03.05 10:00:00.000\tDEBUG\tcaption\ttext\r\n";
  Write("a.log", big);
  CountingFileSystem fs;
  LogViewerModel model(fs, dir_.path());
  model.Open();
  std::uint64_t generation = model.TextGeneration();
  std::string shown = model.Text();
  fs.bytes_read = 0;
  EXPECT_FALSE(model.Tick());
  Append("a.log", "new\r\n");
  ASSERT_TRUE(model.Tick());
  EXPECT_EQ(fs.bytes_read, 5u);
  EXPECT_EQ(model.TextGeneration(), generation);
  EXPECT_EQ(model.Text(), shown + "new\n");
  EXPECT_FALSE(model.Tick());

  Write("a.log", "cut\r\n");
  Touch("a.log");
  ASSERT_TRUE(model.Tick());
  EXPECT_EQ(model.Text(), "cut\n");
  EXPECT_NE(model.TextGeneration(), generation);

  generation = model.TextGeneration();
  Write("b.log", "another file, longer than the first\r\n");
  std::filesystem::rename(dir_ / "b.log", dir_ / "a.log");
  Touch("a.log");
  ASSERT_TRUE(model.Tick());
  EXPECT_EQ(model.Text(), "another file, longer than the first\n");
  EXPECT_NE(model.TextGeneration(), generation);

  generation = model.TextGeneration();
  Append("a.log", std::string(LogViewerModel::kShownBytes, 'x') + "\r\nlast\r\n");
  ASSERT_TRUE(model.Tick());
  EXPECT_EQ(model.Text(), "[Начало файла пропущено: показаны последние 4 МБ из 4 МБ]\nlast\n");
  EXPECT_NE(model.TextGeneration(), generation);
}

// A writer's append may be seen half done: a character or a CR LF cut in two waits for its rest
// instead of being shown broken.
TEST_F(LogViewerModelTest, ACharacterOrLineEndCutInTwoWaitsForItsRest) {
  Write("a.log", "a\r");
  model_.Open();
  EXPECT_EQ(model_.Text(), "a");
  Append("a.log", "\n");
  ASSERT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "a\n");
  Append("a.log", "\xD0\xB1\xD0");  // "б" and half of "С"
  ASSERT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "a\nб");
  Append("a.log", "\xA1\r");
  ASSERT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "a\nбС");
  Append("a.log", "\n");
  ASSERT_TRUE(model_.Tick());
  EXPECT_EQ(model_.Text(), "a\nбС\n");
}

}  // namespace
}  // namespace velquora::log
