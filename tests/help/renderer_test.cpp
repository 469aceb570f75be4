// The help renderer without a display: archives built by the test, a window that only records.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>

#include "help/markdown_renderer.h"
#include "support/temp_dir.h"

#include "support/test_helpers.h"

namespace velquora::help {
namespace {

namespace fs = std::filesystem;

// A zip archive holding `entries` (name, bytes), as bytes.
std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  test::TempDir dir;
  std::string path = dir / "a.zip";
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8);
  }
  zip_close(z);
  return test::ReadText(path);
}

struct Shown {
  std::string path, html, folder;
  std::u16string caption;
  bool folder_existed = false;
};

RendererServices Services(std::optional<std::string> archive, Shown& shown) {
  return {[archive](std::string_view name) -> std::optional<std::string_view> {
            if (name != "help" || !archive) return std::nullopt;
            return std::string_view(*archive);
          },
          [&shown](const std::string& path, const std::u16string& caption) {
            shown.path = path;
            shown.caption = caption;
            shown.html = test::ReadText(path);
            shown.folder = fs::path(path).parent_path().string();
            shown.folder_existed = fs::is_directory(shown.folder);
          },
          nullptr};
}

std::size_t TempFolders() {
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
    n += e.path().filename().string()[0] == '{';
  return n;
}

const std::string kMarkdown = "# Справка\n\nТекст *с выделением*.\n\n<script>alert(1)</script>\n";

TEST(MarkdownRenderer, RendersWithTheStyleSheetAndCleansUp) {
  Shown shown;
  std::string archive =
      Zip({{"help.md", kMarkdown}, {"help.css", "body{}"}, {"img/logo.txt", "x"}});
  MarkdownRenderer::Render(Services(archive, shown), "help", u"Справка");
  EXPECT_TRUE(shown.folder_existed);
  EXPECT_FALSE(fs::exists(shown.folder)) << "the folder goes with the request";
  EXPECT_EQ(shown.caption, u"Справка");
  EXPECT_EQ(fs::path(shown.path).filename(), "md.html");
  std::string name = fs::path(shown.folder).filename().string();
  EXPECT_EQ(name.size(), 38u);
  EXPECT_EQ(name.front(), '{');
  EXPECT_EQ(name[9], '-');
  const std::string head =
      "\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<link href=\"help.css\" "
      "rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n";
  ASSERT_EQ(shown.html.substr(0, head.size()), head);
  EXPECT_NE(shown.html.find("<h1>Справка</h1>"), std::string::npos);
  EXPECT_NE(shown.html.find("<em>с выделением</em>"), std::string::npos);
  EXPECT_EQ(shown.html.find("<script>"), std::string::npos) << "raw HTML is not passed through";
  const std::string tail = "\r\n</body>\r\n</html>";
  EXPECT_EQ(shown.html.substr(shown.html.size() - tail.size()), tail)
      << "no line end after the closing tag";
}

TEST(MarkdownRenderer, WithoutAStyleSheetTheHtmlStandsAlone) {
  Shown shown;
  MarkdownRenderer::Render(Services(Zip({{"help.md", "# A\n"}}), shown), "help", u"x");
  EXPECT_EQ(shown.html, "\xEF\xBB\xBF<h1>A</h1>\n");
}

TEST(MarkdownRenderer, ByteOrderMarksDecideTheEncoding) {
  std::string utf16le = "\xFF\xFE";
  for (char16_t c : std::u16string(u"# Справка\n")) {
    utf16le += static_cast<char>(c & 0xFF);
    utf16le += static_cast<char>(c >> 8);
  }
  Shown a, b;
  MarkdownRenderer::Render(Services(Zip({{"help.md", utf16le}}), a), "help", u"x");
  MarkdownRenderer::Render(Services(Zip({{"help.md", "# Справка\n"}}), b), "help", u"x");
  EXPECT_EQ(a.html, b.html);
  EXPECT_EQ(DecodeText("\xFE\xFF\x04\x21"), "С");
  EXPECT_EQ(DecodeText("\xEF\xBB\xBFok"), "ok");
}

TEST(MarkdownRenderer, FailuresLeaveNoTemporaryFolder) {
  std::size_t before = TempFolders();
  Shown shown;
  EXPECT_EQ(
      test::ErrorOf([&] { MarkdownRenderer::Render(Services(std::nullopt, shown), "help", u"x"); }),
      "File not found: help");
  EXPECT_EQ(
      test::ErrorOf([&] {
        MarkdownRenderer::Render(Services(Zip({{"doc/help.md", "# A"}}), shown), "help", u"x");
      }),
      "Mardown file not found");
  for (const char* evil : {"../evil.md", "/tmp/evil.md", "a/../../evil.md"}) {
    EXPECT_NE(test::ErrorOf([&] {
                MarkdownRenderer::Render(Services(Zip({{evil, "# A"}, {"help.md", "# B"}}), shown),
                                         "help", u"x");
              }).find("outside its folder"),
              std::string::npos)
        << evil;
  }
  EXPECT_FALSE(fs::exists(fs::temp_directory_path().parent_path() / "evil.md"));
  EXPECT_TRUE(shown.path.empty()) << "no window for a failed request";
  EXPECT_EQ(TempFolders(), before);
}

TEST(MarkdownRenderer, EachRendererHasItsOwnFolder) {
  Shown shown;
  MarkdownRenderer one(Services(std::nullopt, shown)), two(Services(std::nullopt, shown));
  EXPECT_NE(one.temp_folder(), two.temp_folder());
  EXPECT_TRUE(fs::is_directory(one.temp_folder()));
  EXPECT_TRUE(fs::is_directory(two.temp_folder()));
}

TEST(MarkdownRenderer, AFolderTakenOverOutlivesTheRenderer) {
  Shown shown;
  std::string folder;
  {
    MarkdownRenderer renderer(Services(Zip({{"help.md", "# A\n"}}), shown), "help");
    renderer.Render(u"x");
    folder = renderer.ReleaseTempFolder();
    EXPECT_TRUE(renderer.temp_folder().empty());
  }
  EXPECT_TRUE(fs::exists(shown.path)) << "the page went with the renderer";
  EXPECT_EQ(fs::path(shown.path).parent_path(), fs::path(folder).parent_path());
  fs::remove_all(folder);
}

TEST(MarkdownRenderer, ConvertToHtmlWithAGivenStyleSheet) {
  test::TempDir dir;
  test::WriteText(dir / "a.md", "*x*");
  Shown shown;
  EXPECT_EQ(test::ErrorOf([&] {
              MarkdownRenderer::ConvertToHtml(Services(std::nullopt, shown), dir / "none.md", "",
                                              "");
            }),
            "File not found: " + (dir / "none.md"));
  MarkdownRenderer::ConvertToHtml(Services(std::nullopt, shown), dir / "a.md", dir / "a.html", "");
  EXPECT_EQ(test::ReadText(dir / "a.html"), "\xEF\xBB\xBF<p><em>x</em></p>\n");
  test::WriteText(dir / "s.css", "");
  MarkdownRenderer::ConvertToHtml(Services(std::nullopt, shown), dir / "a.md", dir / "b.html",
                                  dir / "s.css");
  EXPECT_NE(test::ReadText(dir / "b.html").find("<link href=\"" + (dir / "s.css") + "\""),
            std::string::npos);
}

}  // namespace
}  // namespace velquora::help
