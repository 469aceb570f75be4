#pragma once
// The one table of the scale's answers: which answer byte accepts a frame and what a refusal
// says, by the frame's command. Every exchange is judged here, whether the frame was built by a
// table operation or given whole as hex text (UploadData).
//
//   command      accepted    refusal text
//   F1 write     06          "Ошибка записи в таблицу XX" (+ the record, for tables 25, 23, 41)
//   F2 clear     06          "Ошибка очистки таблицы XX"
//   F3 delete    06, E2      "Ошибка удаления из таблицы XX" (+ the record, for tables 25, 23;
//                            E2: no such record, gone anyway)
//   others       any         (a read: the answer is the caller's)
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/frames.h"

namespace velquora::protocol {

// Whether `answer` accepts a frame of `command`.
bool Accepted(std::uint8_t command, std::uint8_t answer);

// The refusal text of a frame of `command` to `table`, naming `record` where the table has
// words for it (`record` null: a frame given whole, which names nothing).
std::string RefusalText(std::uint8_t command, std::uint8_t table, const RecordName* record);

// Fails (ErrorKind::kRefused) with the refusal text unless `answer` accepts `frame`, whose
// refusal names `record` (null: nothing). A frame shorter than command and table is not judged.
void JudgeAnswer(std::string_view frame, const RecordName* record, std::uint8_t answer);

}  // namespace velquora::protocol
