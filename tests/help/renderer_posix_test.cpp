// What the help renderer's temporary folder looks like to other users of a POSIX system.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "help/markdown_renderer.h"

namespace velquora::help {
namespace {

TEST(MarkdownRendererPosix, OnlyItsUserMayEnterTheFolder) {
  RendererServices services{[](std::string_view) { return std::optional<std::string_view>(); },
                            nullptr, nullptr};
  MarkdownRenderer renderer(services);
  struct stat st {};
  ASSERT_EQ(stat(renderer.temp_folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace velquora::help
