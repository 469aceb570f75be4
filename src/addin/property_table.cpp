#include "addin/property_table.h"

#include "addin/method_table.h"
#include "common/error.h"

namespace velquora::addin {
namespace {

[[noreturn]] void Missing(std::u16string_view name, const char16_t* end) {
  throw Error(ErrorKind::kNotFound,
              u"Свойство \"" + std::u16string(name) + u"\" не существует" + end);
}

}  // namespace

void PropertyTable::Add(std::u16string name_ru, std::u16string name_en, bool read_only,
                        Variant value) {
  if (Find(name_ru) != -1 || Find(name_en) != -1) {
    throw Error(ErrorKind::kInvalid, u"Свойство с указанным именем уже зарегистрировано. [" +
                                         name_ru + u"," + name_en + u"]");
  }
  const long number = Count();
  // An empty name is never found, so it is not indexed.
  if (!name_ru.empty()) index_.Add(name_ru, number);
  if (!name_en.empty()) index_.Add(name_en, number);
  properties_.push_back({std::move(name_ru), std::move(name_en), read_only, std::move(value)});
}

long PropertyTable::Find(std::u16string_view name) const {
  return name.empty() ? -1 : index_.Find(name);
}

const Property& PropertyTable::At(long number) const {
  if (number < 0 || number >= Count()) throw Error(ErrorKind::kInvalid, OutOfRangeText(number));
  return properties_[static_cast<std::size_t>(number)];
}

const Variant& PropertyTable::Value(std::u16string_view name) const {
  long number = Find(name);
  if (number == -1) Missing(name, u"");
  return properties_[static_cast<std::size_t>(number)].value;
}

Property& PropertyTable::Named(std::u16string_view name, const char16_t* missing_end) {
  long number = Find(name);
  if (number == -1) Missing(name, missing_end);
  return properties_[static_cast<std::size_t>(number)];
}

void PropertyTable::Set(std::u16string_view name, Variant value) {
  Property& p = Named(name, u".");
  if (p.read_only) {
    throw Error(ErrorKind::kReadOnly,
                u"Свойство \"" + std::u16string(name) + u"\" запрещено к изменению.");
  }
  p.value = std::move(value);
}

void PropertyTable::SetOwn(std::u16string_view name, Variant value) {
  Named(name, u".").value = std::move(value);
}

}  // namespace velquora::addin
