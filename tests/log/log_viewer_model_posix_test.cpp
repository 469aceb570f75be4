// The log window's model meeting what only a POSIX folder can hold.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "log/log_viewer_model.h"
#include "support/temp_dir.h"

namespace velquora::log {
namespace {

TEST(LogViewerModelPosix, APipeNamedLikeALogIsRefusedAtOnce) {
  test::TempDir dir;
  test::WriteText(dir / "a.log", "one\r\n");
  ASSERT_EQ(mkfifo((dir / "d.log").c_str(), 0666), 0);
  LogViewerModel model(platform::RealFileSystem(), dir.path());
  model.Open();  // the last entry is the pipe: opening it must not wait for a writer
  EXPECT_EQ(model.SelectedText(), "d.log");
  EXPECT_EQ(model.Error(), "Not a regular file \"" + dir / "d.log\"");
  EXPECT_EQ(model.Text(), "");
  model.Select(0);
  EXPECT_EQ(model.Text(), "one\n");
}

}  // namespace
}  // namespace velquora::log
