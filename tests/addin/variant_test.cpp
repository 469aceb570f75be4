// The text form of values.
#include <gtest/gtest.h>

#include <limits>

#include "addin/variant.h"
#include "common/text.h"

namespace velquora::addin {
namespace {

TEST(VariantText, DatesShowAsCalendarDatesInsideTheCalendarAndAsDayCountsOutside) {
  EXPECT_EQ(Variant::Date(2.75).ToText(), u"01.01.1900 18:00:00");
  EXPECT_EQ(Variant::Date(-1.5).ToText(), u"29.12.1899 12:00:00");
  // Past any calendar the day count cannot even be held as a whole number of days.
  for (double days : {-5.48612e+303, 1e300, std::numeric_limits<double>::infinity(),
                      std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(Variant::Date(days).ToText(), Variant::Double(days).ToText()) << days;
  }
}

}  // namespace
}  // namespace velquora::addin
