#pragma once
// The emulator's control line, for tests that run where the emulator cannot (Windows programs
// under wine reach a Linux emulator over 127.0.0.1). One request line, one JSON answer line:
//   start ADDRESS          {"id":N,"port":P}
//   stop N | clear N       {}
//   connections N | open N {"value":count}
//   frames N               {"value":["hex", ...]}
//   records N TABLE        {"value":{"record number":"hex", ...}}
//   dump N                 {"value":<all tables>}
//   faults N JSON          {}          (JSON: {"drop":n,"copies":n,"noise":"hex","rules":[...]})
// A failure answers {"error":"text"}.
#include <nlohmann/json.hpp>

#include <string>

#include "common/hex.h"
#include "scale_emulator.h"

namespace velquora::emulator {

inline std::string ToHex(const std::string& bytes) {
  return HexText(bytes, {}, HexDigits::kLower);
}

inline std::string FromHex(const std::string& hex) {
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(value(hex[i]) * 16 + value(hex[i + 1]));
  return out;
}

inline nlohmann::json FaultsToJson(const Faults& f) {
  nlohmann::json rules = nlohmann::json::array();
  for (const auto& r : f.rules) {
    rules.push_back({{"command", r.command},
                     {"table", r.table},
                     {"record", r.record},
                     {"answer", r.answer},
                     {"close", r.close},
                     {"delay_ms", r.delay_ms},
                     {"times", r.times}});
  }
  return {{"drop", f.drop_connections},
          {"copies", f.answer_copies},
          {"noise", ToHex(f.noise)},
          {"rules", rules}};
}

inline Faults FaultsFromJson(const nlohmann::json& j) {
  Faults f;
  f.drop_connections = j.value("drop", 0);
  f.answer_copies = j.value("copies", 1);
  f.noise = FromHex(j.value("noise", std::string()));
  for (const auto& r : j.value("rules", nlohmann::json::array())) {
    f.rules.push_back({r.value("command", -1), r.value("table", -1), r.value("record", -1L),
                       r.value("answer", -1), r.value("close", false), r.value("delay_ms", 0),
                       r.value("times", -1)});
  }
  return f;
}

}  // namespace velquora::emulator
