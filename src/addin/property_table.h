#pragma once
// A component's properties (the driver's settings among them): each by its Russian or its
// English name in any letter case, numbered in the order they were added. An empty name is
// never taken and never found: settings the host adds have no English name.
#include <string>
#include <string_view>
#include <vector>

#include "addin/name_index.h"
#include "addin/variant.h"

namespace velquora::addin {

struct Property {
  std::u16string name_ru;
  std::u16string name_en;
  bool read_only = false;
  Variant value;
};

class PropertyTable {
 public:
  // Fails (ErrorKind::kInvalid) when a non-empty name is taken already.
  void Add(std::u16string name_ru, std::u16string name_en, bool read_only, Variant value);
  // The property's number, or -1.
  long Find(std::u16string_view name) const;
  // Fails (ErrorKind::kInvalid) for a number no property has.
  const Property& At(long number) const;
  long Count() const { return static_cast<long>(properties_.size()); }
  // Fails (ErrorKind::kNotFound) for a name no property has.
  const Variant& Value(std::u16string_view name) const;
  // Fails (ErrorKind::kNotFound) for a name no property has, (ErrorKind::kReadOnly) for a
  // read-only property.
  void Set(std::u16string_view name, Variant value);
  // The same for the component's own use: read-only properties are set too.
  void SetOwn(std::u16string_view name, Variant value);

 private:
  Property& Named(std::u16string_view name, const char16_t* missing_end);

  std::vector<Property> properties_;
  NameIndex index_;
};

}  // namespace velquora::addin
