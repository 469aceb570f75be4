// A readable view of what the scale holds, for people at a terminal.
#include <cstdio>
#include <sstream>

#include "scale_emulator.h"

namespace velquora::emulator {
namespace {

std::string Lines(const nlohmann::json& lines) {
  std::string out;
  for (const auto& line : lines) {
    if (!out.empty()) out += " / ";
    out += line["text"].get<std::string>();
  }
  return out;
}

// Pads by characters, not bytes, so Cyrillic columns line up.
std::string Pad(std::string text, std::size_t width) {
  std::size_t chars = 0, cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == width) {
        cut = i;
        break;
      }
      ++chars;
    }
  }
  if (cut < text.size()) {
    text = text.substr(0, cut);
  }
  return text + std::string(width > chars ? width - chars : 0, ' ');
}

std::string Money(long hundredths) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld.%02ld", hundredths / 100, hundredths % 100);
  return buf;
}

}  // namespace

std::string FormatDump(const nlohmann::json& dump) {
  std::ostringstream out;
  if (dump.contains("shops")) {
    out << "Магазин:\n";
    for (const auto& s : dump["shops"])
      out << "  " << s["shop"] << "  " << Lines(s["name"]) << "\n";
  }
  if (dump.contains("main_groups")) {
    out << "Группы (" << dump["main_groups"].size() << "):\n";
    for (const auto& g : dump["main_groups"])
      out << "  " << Pad(std::to_string(g["group"].get<long>()), 5) << g["name"].get<std::string>()
          << "\n";
  }
  if (dump.contains("plu")) {
    const auto& plu = dump["plu"];
    out << "Товары (" << plu.size() << "):\n";
    out << "  " << Pad("PLU", 6) << Pad("Группа", 7) << Pad("Цена", 10) << Pad("Вид", 6)
        << Pad("Тара", 5) << Pad("Срок", 5) << Pad("Штрихкод", 15) << "Наименование\n";
    for (const auto& p : plu) {
      out << "  " << Pad(std::to_string(p["plu"].get<long>()), 6)
          << Pad(std::to_string(p["group"].get<long>()), 7)
          << Pad(Money(p["price"].get<long>()), 10)
          << Pad(p["weight_goods"].get<bool>() ? "вес" : "шт", 6)
          << Pad(std::to_string(p["tare"].get<long>()), 5)
          << Pad(std::to_string(p["sell_by_date"].get<long>()), 5)
          << Pad(p["ean"].get<std::string>(), 15) << Lines(p["name"]) << "\n";
    }
  }
  for (const char* other : {"images", "group_images", "preset_keys"}) {
    if (dump.contains(other)) out << other << ": " << dump[other].size() << " records\n";
  }
  if (dump.contains("system")) {
    out << "Дата и время: " << dump["system"]["date_ddmmyy"].get<std::string>() << " "
        << dump["system"]["time_hhmm"].get<std::string>() << "\n";
  }
  return out.str();
}

}  // namespace velquora::emulator
