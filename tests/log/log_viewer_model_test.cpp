// The log window's behaviour without its widgets.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "log/log_viewer_model.h"
#include "support/temp_dir.h"

namespace velquora::log {
namespace {

class LogViewerModelTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    test::WriteText(dir_ / name, text);
  }
  test::TempDir dir_;
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

}  // namespace
}  // namespace velquora::log
