#pragma once
// Reads and checks the records of the host's goods, group and shop documents. Every number is
// checked against the field it will fill before anything of the record is sent.
#include <pugixml.hpp>

#include <string>

#include "device/records.h"

namespace velquora::driver {

device::PluValues ReadGoodsRecord(const pugi::xml_node& record);

struct GroupRecord {
  std::int32_t code = 0;
  std::u16string name;
};
GroupRecord ReadGroupRecord(const pugi::xml_node& record);
GroupRecord ReadShopRecord(const pugi::xml_node& record);

}  // namespace velquora::driver
