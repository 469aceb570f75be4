// Progress texts for the host's status line and how often they come, on a clock the test moves.
#include "driver/upload_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"

namespace velquora::driver {
namespace {

using namespace std::chrono_literals;

struct Recorder {
  std::vector<std::string> calls;
  std::chrono::steady_clock::time_point now{};
  UploadProgress::Sink Sink() {
    return {[this](const std::u16string& t) { calls.push_back(ToUtf8(t)); },
            [this] { calls.push_back("reset"); }};
  }
  UploadProgress::Clock Clock() {
    return [this] { return now; };
  }
};

TEST(UploadProgressTest, ShortUploadsShowNothingAtAll) {
  Recorder r;
  {
    UploadProgress p(u"товаров", 3, r.Sink(), r.Clock());
    for (std::size_t i = 1; i <= 3; ++i) {
      r.now += 100ms;
      p.Advance(i);
    }
    r.now += 199ms;  // 499 ms in all
  }
  EXPECT_TRUE(r.calls.empty());
}

TEST(UploadProgressTest, LongUploadsAreShownAFewTimesASecondThenReset) {
  Recorder r;
  {
    UploadProgress p(u"товаров", 10000, r.Sink(), r.Clock());
    // One record every 10 ms for 1.2 s.
    for (std::size_t done = 1; done <= 120; ++done) {
      r.now += 10ms;
      p.Advance(done * 10);
    }
  }
  // At 500 ms, then no sooner than 250 ms after the one before: 500, 750, 1000 ms.
  EXPECT_EQ(r.calls, (std::vector<std::string>{"Выгрузка товаров: 500 из 10 000",
                                               "Выгрузка товаров: 750 из 10 000",
                                               "Выгрузка товаров: 1 000 из 10 000", "reset"}));
}

TEST(UploadProgressTest, ASlowRecordIsShownWhenItEnds) {
  Recorder r;
  {
    UploadProgress p(u"групп", 2, r.Sink(), r.Clock());
    r.now += 3s;
    p.Advance(1);
    r.now += 1ms;
    p.Advance(2);  // too soon after the one before
  }
  EXPECT_EQ(r.calls, (std::vector<std::string>{"Выгрузка групп: 1 из 2", "reset"}));
}

TEST(UploadProgressTest, NumbersAreGroupedByThousands) {
  const std::pair<std::size_t, const char*> cases[] = {{0, "0"},
                                                       {7, "7"},
                                                       {999, "999"},
                                                       {1000, "1 000"},
                                                       {1234, "1 234"},
                                                       {100000, "100 000"},
                                                       {1234567, "1 234 567"}};
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(ToUtf8(UploadProgress::GroupedNumber(value)), text);
  }
}

TEST(UploadProgressTest, AFailingStatusLineNeverEndsTheUpload) {
  std::size_t resets = 0;
  std::chrono::steady_clock::time_point now{};
  {
    UploadProgress p(u"данных", 5,
                     {[](const std::u16string&) { throw std::runtime_error("host refused"); },
                      [&] {
                        ++resets;
                        throw std::runtime_error("host refused again");
                      }},
                     [&] { return now; });
    now += 1s;
    EXPECT_NO_THROW(p.Advance(1));
  }
  EXPECT_EQ(resets, 1u);
}

}  // namespace
}  // namespace velquora::driver
