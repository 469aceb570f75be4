#pragma once
// Reads and checks the records of the host's goods, group and shop documents. Every number is
// checked against the field it will fill before anything of the record is sent.
#include <string>

#include "driver/host_document.h"
#include "protocol/frames.h"

namespace velquora::driver {

protocol::PluValues ReadGoodsRecord(const HostRecord& record);

struct GroupRecord {
  std::int32_t code = 0;
  std::u16string name;
};
GroupRecord ReadGroupRecord(const HostRecord& record);
GroupRecord ReadShopRecord(const HostRecord& record);

}  // namespace velquora::driver
