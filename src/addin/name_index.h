#pragma once
// Every name of a table's entries, case-folded, with the first entry that bears it: one look-up
// instead of a comparison with each name registered (a host may set thousands of settings).
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/case_mapping.h"

namespace velquora::addin {

class NameIndex {
 public:
  // The entry bearing `name` in any letter case, or -1.
  long Find(std::u16string_view name) const {
    auto it = entries_.find(platform::FoldedText(name));
    return it == entries_.end() ? -1 : it->second;
  }
  // An entry that bears the name already keeps it.
  void Add(std::u16string_view name, long entry) {
    entries_.emplace(platform::FoldedText(name), entry);
  }
  void Clear() { entries_.clear(); }

 private:
  std::unordered_map<std::u16string, long> entries_;
};

}  // namespace velquora::addin
