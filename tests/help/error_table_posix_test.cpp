// The manual's list of error texts against the texts the code gives: every text a failure is
// thrown with in the layers a host call passes through must start an entry of the list, and
// every entry must be a text the code has. The list writes a part that varies as "…"; an entry
// matches a text when the entry's part before its first "…" starts the text, or the text starts
// the entry.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace velquora {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The bold head of each entry "- **text** — cause. Что делать: …" under "## Ошибки".
std::vector<std::string> ManualTexts() {
  std::istringstream help(ReadFile(fs::path(VELQUORA_SOURCE_DIR) / "resources/help/help.md"));
  std::vector<std::string> rows;
  bool in_section = false;
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("## ", 0) == 0) in_section = line == "## Ошибки";
    if (!in_section || line.rfind("- **", 0) != 0) continue;
    const std::size_t end = line.find("** — ", 4);
    if (end != std::string::npos) rows.push_back(line.substr(4, end - 4));
  }
  return rows;
}

// C escapes of quotes and backslashes undone.
std::string Unescaped(const std::string& literal) {
  std::string out;
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] == '\\' && i + 1 < literal.size()) ++i;
    out += literal[i];
  }
  return out;
}

// The statements that give a failure its text: throws of Error, the goods reader's checks, the
// document parser's refusals and the named text constants; from each, the string literals that
// start with a capital letter (the heads of texts; the parts glued on after them start
// otherwise). `all_literals` receives every string literal of those layers.
std::set<std::string> CodeTexts(std::vector<std::string>& all_literals) {
  static const std::regex kStatement(
      R"((Error\(ErrorKind::k\w+,|Invalid\(HostAttr::k\w+,|Required\(|Refuse\(|constexpr char(16_t)? k\w+Text\[\] =|AnswerRule kAnswerRules\[\] =)[^;]*;)");
  static const std::regex kLiteral(R"re(u?"((?:[^"\\]|\\.)*)")re");
  std::set<std::string> texts;
  for (const char* layer : {"src/driver", "src/protocol", "src/addin"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(VELQUORA_SOURCE_DIR) / layer)) {
      const std::string source = ReadFile(entry.path());
      // Adjacent literals are one text, as the compiler joins them.
      std::size_t last_end = std::string::npos;
      for (std::sregex_iterator l(source.begin(), source.end(), kLiteral), end; l != end; ++l) {
        const std::size_t start = static_cast<std::size_t>(l->position());
        const bool adjacent = last_end != std::string::npos &&
                              source.find_first_not_of(" \n", last_end) == start &&
                              !all_literals.empty();
        if (adjacent)
          all_literals.back() += Unescaped((*l)[1].str());
        else
          all_literals.push_back(Unescaped((*l)[1].str()));
        last_end = start + static_cast<std::size_t>(l->length());
      }
      for (std::sregex_iterator s(source.begin(), source.end(), kStatement), end; s != end; ++s) {
        const std::string statement = s->str();
        for (std::sregex_iterator l(statement.begin(), statement.end(), kLiteral); l != end; ++l) {
          const std::string text = Unescaped((*l)[1].str());
          const unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
          // A Latin capital, or a Cyrillic capital (А-П: D0 90..9F, Р-Я: D0 A0..AF).
          const bool capital =
              (first >= 'A' && first <= 'Z') ||
              (first == 0xD0 && text.size() > 1 && static_cast<unsigned char>(text[1]) >= 0x90 &&
               static_cast<unsigned char>(text[1]) <= 0xAF);
          if (capital) texts.insert(text);
        }
      }
    }
  }
  return texts;
}

std::string Head(const std::string& row) {
  return row.substr(0, row.find("…"));
}

TEST(HelpErrorTable, EveryTextTheCodeGivesIsInTheManualAndNoOtherIs) {
  const std::vector<std::string> rows = ManualTexts();
  std::vector<std::string> literals;
  const std::set<std::string> texts = CodeTexts(literals);
  ASSERT_FALSE(rows.empty()) << "no list under \"## Ошибки\" in help.md";
  ASSERT_FALSE(texts.empty());
  for (const std::string& text : texts) {
    bool found = false;
    for (const std::string& row : rows) {
      const std::string head = Head(row);
      if (row.rfind(text, 0) == 0 || (!head.empty() && text.rfind(head, 0) == 0)) found = true;
    }
    EXPECT_TRUE(found) << "the code gives \"" << text << "\": help.md's list of errors has not";
  }
  // An entry's fixed head must be in a literal of the code.
  for (const std::string& row : rows) {
    bool found = false;
    const std::string head = Head(row);
    for (const std::string& literal : literals) {
      if (literal.rfind(head, 0) == 0) found = true;
    }
    EXPECT_TRUE(found) << "help.md lists \"" << row << "\": the code gives no such text";
  }
}

}  // namespace
}  // namespace velquora
