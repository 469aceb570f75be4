#include "addin/method_table.h"

#include "common/error.h"

namespace velquora::addin {

std::u16string OutOfRangeText(long number) {
  return u"Индекс за границами массива [" + IntToText16(number) + u"]";
}

void MethodTable::Add(std::u16string name_ru, std::u16string name_en, int params,
                      MethodHandler handler) {
  if (Find(name_ru) != -1 || Find(name_en) != -1) {
    throw Error(ErrorKind::kInvalid, u"Метод с указанным именем уже зарегистрирован. [" + name_ru +
                                         u"," + name_en + u"]");
  }
  const long number = Count();
  index_.Add(name_ru, number);
  index_.Add(name_en, number);
  methods_.push_back({std::move(name_ru), std::move(name_en), params, std::move(handler)});
}

const Method& MethodTable::At(long number) const {
  if (number < 0 || number >= Count()) throw Error(ErrorKind::kInvalid, OutOfRangeText(number));
  return methods_[static_cast<std::size_t>(number)];
}

std::u16string MethodTable::Name(long number, long alias) const {
  const Method& m = At(number);
  return alias == 0 ? m.name_ru : alias == 1 ? m.name_en : u"";
}

void MethodTable::Clear() {
  methods_.clear();
  index_.Clear();
}

}  // namespace velquora::addin
