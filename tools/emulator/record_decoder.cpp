// Decodes the scale's records into fields, checking them as the scale would.
#include <iconv.h>

#include <stdexcept>

#include "common/hex.h"
#include "scale_emulator.h"

namespace velquora::emulator {
namespace {

using nlohmann::json;

struct Reader {
  const std::string& data;
  std::size_t at = 0;

  std::uint8_t Byte() {
    if (at >= data.size())
      throw std::runtime_error("record ends early at byte " + std::to_string(at));
    return static_cast<std::uint8_t>(data[at++]);
  }
  std::string Bytes(std::size_t n) {
    if (data.size() - at < n)
      throw std::runtime_error("record ends early at byte " + std::to_string(at));
    std::string out = data.substr(at, n);
    at += n;
    return out;
  }
  // Packed decimal of n bytes; every half must be a digit.
  std::string Bcd(std::size_t n) {
    std::string digits;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t b = Byte();
      if ((b >> 4) > 9 || (b & 15) > 9)
        throw std::runtime_error("bad BCD byte at " + std::to_string(at - 1));
      digits += static_cast<char>('0' + (b >> 4));
      digits += static_cast<char>('0' + (b & 15));
    }
    return digits;
  }
  long BcdNumber(std::size_t n) { return std::stol(Bcd(n)); }
  unsigned BigEndian(std::size_t n) {
    unsigned v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 8) | Byte();
    return v;
  }
  void End() {
    if (at != data.size())
      throw std::runtime_error("record has " + std::to_string(data.size() - at) + " extra bytes");
  }
};

std::string Hex(const std::string& bytes) {
  return HexText(bytes);
}

// Lines of a text block: font, length, text, then 0x0D between lines and 0x0C at the end.
json TextBlock(Reader& r) {
  json lines = json::array();
  std::uint8_t first = r.Byte();
  if (first == 0x0C) return lines;
  r.at--;
  for (;;) {
    std::uint8_t font = r.Byte();
    if (font > 9) throw std::runtime_error("bad font byte " + std::to_string(font));
    std::uint8_t length = r.Byte();
    std::string text = r.Bytes(length);
    lines.push_back({{"font", font}, {"text", Cp866ToUtf8(text)}});
    std::uint8_t end = r.Byte();
    if (end == 0x0C) return lines;
    if (end != 0x0D) throw std::runtime_error("bad line end byte " + std::to_string(end));
  }
}

json Plu(Reader& r) {
  json j;
  j["plu"] = r.BcdNumber(4);
  unsigned size = r.BigEndian(2);
  if (size != r.data.size()) throw std::runtime_error("record size field differs from the record");
  std::uint8_t s1 = r.Byte(), s2 = r.Byte();
  std::string status2 = r.Bytes(3);
  j["status"] = Hex(std::string{static_cast<char>(s1), static_cast<char>(s2)}) + " " + Hex(status2);
  j["weight_goods"] = (s1 & 1) == 0;
  j["price"] = r.BcdNumber(4);  // hundredths
  j["label_format"] = r.Byte();
  j["barcode_format"] = r.Byte();
  j["ean"] = r.Bcd(7);
  j["group"] = r.BcdNumber(2);
  j["sell_by_date"] = r.BcdNumber(2);
  j["sell_by_time"] = r.BcdNumber(2);
  j["used_by_date"] = r.BcdNumber(2);
  j["packed_date"] = r.BcdNumber(2);
  j["packed_time"] = r.BcdNumber(2);
  bool has_tare = (static_cast<std::uint8_t>(status2[0]) & 0x40) != 0;
  j["tare"] = has_tare ? r.BcdNumber(2) : 0;
  std::string images = r.Bytes(10);
  if (images != std::string(10, '\0')) throw std::runtime_error("image bytes are not zero");
  j["name"] = TextBlock(r);
  j["ingredients"] = TextBlock(r);
  j["spec_message"] = TextBlock(r);
  if (r.Byte() != 0) throw std::runtime_error("BCC is not 0x00");
  r.End();
  return j;
}

void CheckSize(Reader& r, unsigned expected) {
  if (expected != r.data.size())
    throw std::runtime_error("record size field differs from the record");
}

}  // namespace

std::string Cp866ToUtf8(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string in = bytes, out(bytes.size() * 4 + 4, '\0');
  char* ip = in.data();
  char* op = out.data();
  std::size_t il = in.size(), ol = out.size();
  iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

json DecodeRecord(std::uint8_t table, const std::string& record) {
  Reader r{record};
  json j;
  switch (table) {
    case 0x25:
      return Plu(r);
    case 0x23: {
      j["group"] = r.BcdNumber(4);
      CheckSize(r, r.BigEndian(2));
      if (r.Byte() != 0) throw std::runtime_error("group record byte 7 is not 0x00");
      j["name"] = Cp866ToUtf8(r.Bytes(record.size() - r.at));
      return j;
    }
    case 0x3D: {
      j["shop"] = r.BcdNumber(4);
      CheckSize(r, r.BigEndian(2));
      j["label_format"] = r.BigEndian(2);
      j["name"] = TextBlock(r);
      r.End();
      return j;
    }
    case 0x37: {
      j["image"] = r.BcdNumber(4);
      CheckSize(r, r.BigEndian(2));
      if (r.Byte() != 0) throw std::runtime_error("image record byte 7 is not 0x00");
      j["data"] = Hex(r.Bytes(record.size() - r.at));
      return j;
    }
    case 0xA3: {
      j["group"] = r.BcdNumber(4);
      unsigned size = r.BigEndian(2);
      if (size != 8) throw std::runtime_error("group image record size is not 8");
      CheckSize(r, size);
      j["image"] = r.BcdNumber(2);
      r.End();
      return j;
    }
    case 0x41: {
      j["preset"] = r.BcdNumber(4);
      unsigned size = r.BigEndian(2);
      if (size != 89) throw std::runtime_error("preset key record size is not 89");
      CheckSize(r, size);
      j["key"] = r.BcdNumber(4);
      j["status"] = r.Byte();
      r.Byte();
      std::string name = Cp866ToUtf8(r.Bytes(32));
      while (!name.empty() && name.back() == ' ') name.pop_back();
      j["name"] = name;
      r.Bytes(4);
      r.Bytes(32);
      r.Byte();
      unsigned image = 0;
      for (int i = 0; i < 4; ++i) image |= static_cast<unsigned>(r.Byte()) << (8 * i);
      j["image"] = image;
      r.Bytes(4);
      r.End();
      return j;
    }
    default:
      j["raw"] = Hex(record);
      return j;
  }
}

}  // namespace velquora::emulator
