// The host-facing object word by word, for both entry-table layouts.
#include <gtest/gtest.h>

#include <vector>

#include "addin/object_header.h"

namespace velquora::addin {
namespace {

template <typename Abi>
void ExpectLayout(int first, int second, int third, int spare, int self, int words_total) {
  using L = HeaderLayout<Abi>;
  ASSERT_EQ(L::kWords, words_total);
  std::vector<void*> words(L::kWords, nullptr);
  auto* component = reinterpret_cast<Component*>(0x1234);
  FillObjectHeader<Abi>(words.data(), component);
  const EntryAddresses& e = ForwardingEntries();
  const int d = Abi::kDestructorEntries;

  EXPECT_EQ(words[0], &words[first]);
  EXPECT_EQ(words[1], &words[second]);
  EXPECT_EQ(words[2], &words[third]);
  EXPECT_EQ(words[3], &words[third]) << "the reserved interface must reach a harmless table";
  for (int i = 4; i < 8; ++i) EXPECT_EQ(words[i], component) << "word " << i;
  EXPECT_EQ(words[self], component);
  EXPECT_EQ(words[spare], e.destructor);

  auto table = [&](int at, void* const* entries, int count) {
    for (int k = 0; k < d; ++k) EXPECT_EQ(words[at + k], e.destructor) << "word " << at + k;
    for (int k = 0; k < count; ++k)
      EXPECT_EQ(words[at + d + k], entries[k]) << "word " << at + d + k;
  };
  table(first, e.first, 4);
  table(second, e.second, 16);
  table(third, e.third, 1);
  for (auto* w : words) EXPECT_NE(w, nullptr);
}

TEST(ObjectHeaderLayout, MsvcIsThe34WordBlock) {
  ExpectLayout<MsvcAbi>(8, 13, 30, 32, 33, 34);
}

TEST(ObjectHeaderLayout, ItaniumHasTwoDestructorEntriesPerTable) {
  ExpectLayout<ItaniumAbi>(8, 14, 32, 35, 36, 37);
}

TEST(ObjectHeaderLayout, EntriesAreDistinctAndInHostOrder) {
  const EntryAddresses& e = ForwardingEntries();
  std::vector<void*> all{e.destructor};
  all.insert(all.end(), std::begin(e.first), std::end(e.first));
  all.insert(all.end(), std::begin(e.second), std::end(e.second));
  all.insert(all.end(), std::begin(e.third), std::end(e.third));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
}  // namespace velquora::addin
