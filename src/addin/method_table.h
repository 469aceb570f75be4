#pragma once
// A component's methods as the host finds them: each by its Russian or its English name in any
// letter case, numbered in the order they were added.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "addin/name_index.h"
#include "addin/variant.h"

namespace velquora::addin {

// Runs a method: the arguments by reference (a handler may write results into them), the
// method's value as the result.
using MethodHandler = std::function<Variant(Arguments&)>;

struct Method {
  std::u16string name_ru;
  std::u16string name_en;
  int params = 0;
  MethodHandler handler;
};

class MethodTable {
 public:
  // Fails (ErrorKind::kInvalid) when either name is taken already.
  void Add(std::u16string name_ru, std::u16string name_en, int params, MethodHandler handler);
  // The method's number, or -1.
  long Find(std::u16string_view name) const { return index_.Find(name); }
  // Fails (ErrorKind::kInvalid) for a number no method has.
  const Method& At(long number) const;
  // The name of `alias` 0 (Russian) or 1 (English); any other alias names nothing.
  std::u16string Name(long number, long alias) const;
  long Count() const { return static_cast<long>(methods_.size()); }
  void Clear();

 private:
  std::vector<Method> methods_;
  NameIndex index_;
};

// "Индекс за границами массива [n]": a number no entry of a table has.
std::u16string OutOfRangeText(long number);

}  // namespace velquora::addin
