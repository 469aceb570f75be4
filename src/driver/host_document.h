#pragma once
// The host's upload documents (goods, groups, shops, system settings), read whole by a
// conforming XML parser before anything is sent. Only what the driver uses is kept: the name of
// the top-level element, its attributes, and for each "Record" child (any letter case) the
// attributes the driver reads, as texts in one buffer.
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velquora::driver {

// The attributes the driver reads, by their names in the documents (letter case as here).
enum class HostAttr : std::uint8_t {
  kPlu,
  kCode,
  kEanData,
  kName,
  kGroupCode,
  kPrice,
  kSellByDate,
  kSellByTime,
  kUsedByDate,
  kPackedDate,
  kPackedTime,
  kPluTare,
  kIsWeightGoods,
  kDescription,
  kSpecMessage,
  kF1,
  kF2,
  kF3,
  kF4,
  kImageNumber,
  kDateTime,
};
inline constexpr std::size_t kHostAttrCount = static_cast<std::size_t>(HostAttr::kDateTime) + 1;

// The attribute's name in the documents.
std::string_view HostAttrName(HostAttr attr);

class HostDocument;

// One element's attributes; valid while its document lives.
class HostRecord {
 public:
  // The attribute's text in UTF-8 with references expanded; nullopt when absent.
  std::optional<std::string_view> Get(HostAttr attr) const;
  // The text as UTF-16; empty when absent.
  std::u16string Text(HostAttr attr) const;

 private:
  friend class HostDocument;
  HostRecord(const HostDocument& doc, std::size_t first_slot) : doc_(doc), first_(first_slot) {}
  const HostDocument& doc_;
  std::size_t first_;
};

class HostDocument {
 public:
  // Cleans the host's text of characters XML does not allow, then reads the whole document.
  // Fails with "Ошибка разбора XML: " and the parser's message, line and column when the text
  // is not well-formed, and refuses external entities without loading them.
  static HostDocument Parse(std::u16string_view text);
  // The same for UTF-8 text as it is (no cleaning).
  static HostDocument ParseUtf8(std::string_view utf8);
  // Reads the document as Parse does, but hands each record to `each` (with its index and the
  // line it starts at) as soon as the parser has read it, and keeps none of them: only the root
  // comes back. After `each` answers false no more records are handed to it; the text is read to
  // its end all the same, so a text that is not well-formed fails as such wherever its fault lies.
  using RecordHandler =
      std::function<bool(const HostRecord& record, std::size_t index, std::uint32_t line)>;
  static HostDocument ParseRecords(std::u16string_view text, const RecordHandler& each);

  const std::string& RootName() const { return root_name_; }
  HostRecord Root() const { return HostRecord(*this, 0); }
  std::size_t RecordCount() const { return slots_.size() / kHostAttrCount - 1; }
  HostRecord Record(std::size_t index) const {
    return HostRecord(*this, (index + 1) * kHostAttrCount);
  }
  // The line of the text where the record's element starts, from 1.
  std::uint32_t RecordLine(std::size_t index) const { return lines_[index]; }

 private:
  friend class HostRecord;
  friend struct HostDocumentBuilder;
  struct Slot {
    std::uint32_t offset = kNotGiven;
    std::uint32_t size = 0;
  };
  static constexpr std::uint32_t kNotGiven = 0xFFFFFFFFu;  // the attribute is not there

  std::string root_name_;
  std::string values_;       // every kept attribute text, one after another
  std::vector<Slot> slots_;  // kHostAttrCount per element: the root first, then each record
  std::vector<std::uint32_t> lines_;  // each record's line
};

}  // namespace velquora::driver
