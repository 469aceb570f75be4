#pragma once
// The host-facing object, built by hand so its layout does not depend on the compiler:
// interface words that point into one block of entry addresses, the component beside them.
//
//   word 0..3  interface words (first, second, third table; word 3 -> third table, harmless)
//   word 4..7  the component, four places after each interface word
//   word 8..   the three entry tables one after another, each opening with the ABI's
//              destructor entries, then one spare empty destructor
//   last word  the component that DestroyObject destroys
// With one destructor entry (MSVC) this is 34 words; with two (Itanium) 37.
#include "addin/host_abi.h"

namespace velquora::addin {

class Component;

template <typename Abi>
struct HeaderLayout {
  static constexpr int kDestructors = Abi::kDestructorEntries;
  static constexpr int kFirst = 8;
  static constexpr int kFirstLength = kDestructors + 4;  // Init, setMemManager, GetInfo, Done
  static constexpr int kSecond = kFirst + kFirstLength;
  static constexpr int kSecondLength = kDestructors + 16;  // RegisterExtensionAs .. CallAsFunc
  static constexpr int kThird = kSecond + kSecondLength;
  static constexpr int kThirdLength = kDestructors + 1;  // SetLocale
  static constexpr int kSpare = kThird + kThirdLength;
  static constexpr int kSelf = kSpare + 1;
  static constexpr int kWords = kSelf + 1;
};

static_assert(HeaderLayout<MsvcAbi>::kWords == 34 && HeaderLayout<MsvcAbi>::kSecond == 13 &&
              HeaderLayout<MsvcAbi>::kThird == 30 && HeaderLayout<MsvcAbi>::kSpare == 32);

// The entry addresses in table order (shared by both layouts).
struct EntryAddresses {
  void* destructor;
  void* first[4];
  void* second[16];
  void* third[1];
};
const EntryAddresses& ForwardingEntries();

// Fills `words` (HeaderLayout<Abi>::kWords of them) for `component`.
template <typename Abi>
void FillObjectHeader(void** words, Component* component) {
  using L = HeaderLayout<Abi>;
  const EntryAddresses& e = ForwardingEntries();
  int at = L::kFirst;
  auto table = [&](void* const* entries, int count) {
    for (int d = 0; d < L::kDestructors; ++d) words[at++] = e.destructor;
    for (int i = 0; i < count; ++i) words[at++] = entries[i];
  };
  table(e.first, 4);
  table(e.second, 16);
  table(e.third, 1);
  words[L::kSpare] = e.destructor;
  words[0] = &words[L::kFirst];
  words[1] = &words[L::kSecond];
  words[2] = &words[L::kThird];
  words[3] = &words[L::kThird];
  for (int i = 4; i < 8; ++i) words[i] = component;
  words[L::kSelf] = component;
}

// Allocates and fills a header for the target ABI.
void* BuildObjectHeader(Component* component);
// The component a header holds.
Component* ComponentOfHeader(void* header);
// Frees the header (not the component).
void FreeObjectHeader(void* header);

}  // namespace velquora::addin
