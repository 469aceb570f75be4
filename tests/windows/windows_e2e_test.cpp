// What only the Windows DLL shows a host: its log header, read from the folder under
// %ProgramData%, names the DLL with the version of its resource and the real system; its
// destructor entries called as an MSVC host's `delete` calls them.
#include <algorithm>
#include <cstddef>
#include <filesystem>

#include "e2e/e2e_fixture.h"
#include "object_bridge.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/xml_tree.h"

namespace velquora::e2e {
namespace {

// Calls the first entry of the table behind interface word `word` of the library's object as
// MSVC code runs `delete p`: the scalar deleting destructor, `this` at that word, flags 1.
// Answers how many bytes the call left on the stack: 0 when the entry popped its argument.
std::ptrdiff_t DeleteThroughWord(void* object, int word) {
  void* self = static_cast<void**>(object) + word;
  void* entry = (*static_cast<void* const* const*>(self))[0];
#if defined(__i386__)
  // thiscall: `this` in ECX, the flags pushed, the callee pops them. The stack pointer is kept
  // in ESI (preserved by every callee) and restored afterwards, so a wrong entry is measured
  // instead of corrupting this frame.
  std::ptrdiff_t left;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl $1\n\t"
      "call *%[entry]\n\t"
      "movl %%esi, %%eax\n\t"
      "subl %%esp, %%eax\n\t"
      "movl %%esi, %%esp"
      : "=a"(left), "+c"(self)
      : [entry] "r"(entry)
      : "edx", "esi", "memory", "cc");
  return left;
#else
  reinterpret_cast<void (*)(void*, unsigned)>(entry)(self, 1);
  return 0;
#endif
}

TEST_F(DriverTest, DestructorEntriesLeaveTheStackAndTheComponentAsTheyWere) {
  void* object = host::LibraryObjectOf(d_->object());
  // Words 0-2 lead to the three tables; the reserved word 3 to the third.
  for (int word = 0; word < 4; ++word)
    EXPECT_EQ(DeleteThroughWord(object, word), 0) << "interface word " << word;
  // Nothing was destroyed: the component still answers, and DestroyObject (the fixture's
  // teardown) frees every host block once.
  EXPECT_TRUE(Call(u"DeviceTest", {std::u16string(), std::u16string()}));
}

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
