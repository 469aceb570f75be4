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

TEST_F(LogViewerModelTest, AFileThatHasGoneKeepsTheText) {
  Write("a.log", "one\r\n");
  Write("b.log", "two\r\n");
  model_.Open();
  std::filesystem::remove(dir_ / "a.log");
  EXPECT_FALSE(model_.Tick());
  EXPECT_THROW(model_.Select(0), std::exception);
  EXPECT_EQ(model_.Text(), "two\n");
}

}  // namespace
}  // namespace velquora::log
