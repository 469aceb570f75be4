#pragma once
// Small shared operations: equipment type names, XML text cleaning, readers
// of the host's attribute values, the library's version text.
#include <cstdint>
#include <optional>
#include <string>

#include "addin/variant.h"

namespace velquora::driver {

enum class TEquipmentType : std::uint8_t {
  etScanner,
  etMCR,
  etFR,
  etReceiptPrinter,
  etLabelPrinter,
  etCustomerDisplay,
  etDataCollectionTerminal,
  etAcquiringTerminal,
  etScale,
  etPrintingScale,
  etRFIDReader,
  etECR,
  etVideocamera,
  etElectronicLock,
  etUnknown,
};

// Fails with "Enum value unacceptable" outside the enumeration.
std::u16string EquipmentTypeName(int type);

// Keeps TAB, LF, CR, U+0020..U+D7FF and U+E000..U+FFFD; drops every other UTF-16 unit.
std::u16string CleanXmlText(std::u16string_view text);
// The same cleaning, straight into UTF-8 of exactly the size needed: the host's text is
// converted once, without an intermediate cleaned copy.
std::string CleanXmlTextUtf8(std::u16string_view text);
// Its two steps, for a caller that owns the buffer: the size in bytes, then the bytes.
std::size_t CleanXmlTextUtf8Size(std::u16string_view text);
void CleanXmlTextUtf8Write(std::u16string_view text, char* out);

// The marker the driver uses for an absent or unreadable number.
inline constexpr std::int32_t kAbsent = -999999;

std::int32_t VarToIntDef(const addin::Variant& value, std::int32_t def);
// Amounts as counts of ten-thousandths; text is read with "." whatever the process locale.
std::int64_t VarToCurrDef(const addin::Variant& value, std::int64_t def);
bool VarToBoolDef(const addin::Variant& value, bool def);

// Text helpers behind the readers, shared with the settings conversions.
std::optional<std::int64_t> ParseInteger(std::u16string_view text);
std::optional<std::int64_t> ParseAmount(std::u16string_view text);  // ten-thousandths
std::optional<double> ParseDouble(std::u16string_view text);
// Rounds to an integer, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);

// "major.minor.release.build" of a file, or of this library when `path` is empty.
std::u16string GetFileVersionText(const std::string& path = {});

}  // namespace velquora::driver
