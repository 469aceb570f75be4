// What the log writer does with what only Windows offers: another program holding the day's
// file open without sharing it (as a virus scanner may) costs one short wait, not one per record.
#include <windows.h>

#include <chrono>

#include "common/text.h"
#include "log/log_writer_fixture.h"

namespace velquora::log {
namespace {

TEST_F(LogWriterTest, AFileHeldWithoutSharingCostsOneShortWait) {
  writer_.SetLogDetail(3);
  writer_.Write(u"first", u"", LogLevel::kDebug);
  std::u16string name = ToUtf16(File());
  HANDLE stranger = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_READ, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(stranger, INVALID_HANDLE_VALUE) << GetLastError();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) writer_.Write(u"lost", u"", LogLevel::kDebug);
  auto took = std::chrono::steady_clock::now() - start;
  CloseHandle(stranger);
  // One wait of the writer's lock wait, not a hundred (5 s).
  EXPECT_LT(took, std::chrono::seconds(2));
  writer_.Write(u"next", u"", LogLevel::kDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6].substr(24), "DEBUG\tfirst");
  EXPECT_EQ(
      lines[7].substr(24),
      "ERROR\tLog: \t100 records not written: 100 busy (Log file is busy \"" + File() + "\")");
  EXPECT_EQ(lines[8].substr(24), "DEBUG\tnext");
}

}  // namespace
}  // namespace velquora::log
