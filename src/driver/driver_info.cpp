#include "driver/driver_info.h"

#include <iterator>

#include "common/error.h"
#include "common/text.h"
#include "platform/library_file.h"

namespace velquora::driver {

std::u16string EquipmentTypeName(int type) {
  static const char16_t* const kNames[] = {
      u"СканерШтрихкода",      u"СчитывательМагнитныхКарт", u"ФискальныйРегистратор",
      u"ПринтерЧеков",         u"ПринтерЭтикеток",          u"ДисплейПокупателя",
      u"ТерминалСбораДанных",  u"ЭквайринговыйТерминал",    u"ЭлектронныеВесы",
      u"ВесыСПечатьюЭтикеток", u"СчитывательRFID",          u"ККТ",
      u"Видеокамера",          u"ЭлектронныеЗамки",         u"НеизвестныйТипОборудования"};
  if (type < 0 || type >= static_cast<int>(std::size(kNames)))
    throw Error(ErrorKind::kInvalid, "Enum value unacceptable");
  return kNames[type];
}

std::u16string LibraryVersionText() {
  return ToUtf16(platform::FileVersionText(platform::OwnLibraryPath()));
}

}  // namespace velquora::driver
