#include "protocol/answers.h"

#include "common/error.h"
#include "common/hex.h"
#include "common/text.h"
#include "protocol/wire_format.h"

namespace velquora::protocol {
namespace {

struct AnswerRule {
  std::uint8_t command;
  std::uint8_t accepted[2];  // the same byte twice when only one accepts
  const char* refusal;       // followed by the table in hex
};

constexpr AnswerRule kAnswerRules[] = {
    {kWrite, {kAck, kAck}, "Ошибка записи в таблицу "},
    {kClear, {kAck, kAck}, "Ошибка очистки таблицы "},
    {kDelete, {kAck, kNoRecord}, "Ошибка удаления из таблицы "},
};

const AnswerRule* RuleOf(std::uint8_t command) {
  for (const AnswerRule& rule : kAnswerRules) {
    if (rule.command == command) return &rule;
  }
  return nullptr;
}

// How a refused write names its record, by table; a delete names only the number.
std::string RecordWords(std::uint8_t command, std::uint8_t table, const RecordName& r) {
  switch (table) {
    case kTablePlu:
      return ", Plu = " + std::to_string(r.number) +
             (command == kWrite ? "; Name = " + r.name : "");
    case kTableMainGroup:
      return ", Code = " + std::to_string(r.number) +
             (command == kWrite ? "; Name = " + r.name : "");
    case kTablePresetKey:
      return ", PresetNumber = " + std::to_string(r.number) +
             "; PresetKey = " + std::to_string(r.key);
    default:
      return {};
  }
}

}  // namespace

bool Accepted(std::uint8_t command, std::uint8_t answer) {
  const AnswerRule* rule = RuleOf(command);
  return !rule || answer == rule->accepted[0] || answer == rule->accepted[1];
}

std::string RefusalText(std::uint8_t command, std::uint8_t table, const RecordName* record) {
  const AnswerRule* rule = RuleOf(command);
  std::string text = rule ? rule->refusal : "";
  text += HexText(std::string(1, static_cast<char>(table)));
  if (record && (command == kWrite || command == kDelete))
    text += RecordWords(command, table, *record);
  return text;
}

void JudgeAnswer(std::string_view frame, const RecordName* record, std::uint8_t answer) {
  if (frame.size() < 2) return;
  const auto command = static_cast<std::uint8_t>(frame[0]);
  if (Accepted(command, answer)) return;
  // The text is made only for a refusal: this runs once per goods record.
  Error refused(ErrorKind::kRefused,
                RefusalText(command, static_cast<std::uint8_t>(frame[1]), record));
  // The scale's refusal byte says no more; any other byte is shown, as it may be line noise or
  // a device that does not speak this protocol rather than a refused record.
  if (answer != kNak)
    refused.context().reason =
        "неизвестный ответ весов " + HexText(std::string(1, static_cast<char>(answer)));
  throw refused;
}

}  // namespace velquora::protocol
