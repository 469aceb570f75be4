#pragma once
// Host value records to the component's values and back.
#include "addin/host_abi.h"
#include "addin/host_objects.h"
#include "addin/variant.h"

namespace velquora::addin {

// Refused tags fail with "Неподдерживаемый тип данных".
Variant FromHostValue(const TVariant& record);

// Writes `value` into `record`, releasing the text or byte block the record held before.
void ToHostValue(const HostMemory& memory, const Variant& value, TVariant& record);

}  // namespace velquora::addin
