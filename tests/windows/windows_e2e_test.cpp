// What only the Windows DLL shows a host: its log header, read from the folder under
// %ProgramData%, names the DLL with the version of its resource and the real system.
#include <algorithm>
#include <filesystem>

#include "e2e/e2e_fixture.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/xml_tree.h"

namespace velquora::e2e {
namespace {

TEST_F(DriverTest, TheLogHeaderNamesTheDllItsVersionAndTheSystem) {
  StartScale("127.0.0.31");
  Set(u"LogEnabled", true);
  ASSERT_TRUE(Open());
  std::string folder = test::ParseXml(ToUtf8(Out(u"GetDescription"))).root.Attr("LogPath");
  EXPECT_NE(folder.find("ProgramData"), std::string::npos) << folder;
  std::string file;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().filename().string().rfind("127_0_0_31_", 0) == 0) file = e.path().string();
  }
  ASSERT_FALSE(file.empty());
  std::string text = test::ReadText(file);
  EXPECT_NE(text.find("Application:\tw_velquora.dll\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("App. version:\t" VELQUORA_VERSION "\r\n"), std::string::npos) << text;
  std::size_t os = text.find("OS version:\t");
  ASSERT_NE(os, std::string::npos) << text;
  EXPECT_EQ(text.find("OS version:\tUnknown "), std::string::npos) << text;
  Set(u"LogEnabled", false);
  ASSERT_TRUE(Open());
}

}  // namespace
}  // namespace velquora::e2e
