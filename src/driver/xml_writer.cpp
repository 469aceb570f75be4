#include "driver/xml_writer.h"

namespace velquora::driver {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence of an XML character at `s[i]` (lead byte >= 0x80), or 0.
std::size_t ValidSequence(std::string_view s, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b = at(i);
  std::size_t n = b >= 0xC2 && b <= 0xDF   ? 2
                  : b >= 0xE0 && b <= 0xEF ? 3
                  : b >= 0xF0 && b <= 0xF4 ? 4
                                           : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  }
  unsigned char c = at(i + 1);
  if (b == 0xE0 && c < 0xA0) return 0;                        // overlong
  if (b == 0xED && c >= 0xA0) return 0;                       // a surrogate half
  if (b == 0xEF && c == 0xBF && at(i + 2) >= 0xBE) return 0;  // U+FFFE, U+FFFF
  if (b == 0xF0 && c < 0x90) return 0;                        // overlong
  if (b == 0xF4 && c >= 0x90) return 0;                       // beyond U+10FFFF
  return n;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view s, bool attribute) {
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x80) {
      std::size_t n = ValidSequence(s, i);
      if (n == 0) {
        out += kReplacement;
        ++i;
      } else {
        out.append(s, i, n);
        i += n;
      }
      continue;
    }
    ++i;
    switch (b) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (b < 0x20) {
          out += kReplacement;
        } else {
          out += static_cast<char>(b);
        }
    }
  }
}

XmlWriter::XmlWriter() : out_("<?xml version=\"1.0\"?>\n") {}

void XmlWriter::Indent(std::size_t depth) {
  out_.append(depth * 2, ' ');
}

void XmlWriter::Open(std::string_view name) {
  if (!open_.empty()) {
    Element& parent = open_.back();
    if (parent.state == State::kTagOpen) out_ += ">\n";
    if (parent.state == State::kText) out_ += "\n";
    parent.state = State::kElements;
  }
  Indent(open_.size());
  out_ += '<';
  out_ += name;
  open_.push_back({std::string(name), State::kTagOpen});
}

void XmlWriter::Attribute(std::string_view name, std::string_view utf8_value) {
  if (open_.empty() || open_.back().state != State::kTagOpen) return;
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  AppendEscaped(out_, utf8_value, true);
  out_ += '"';
}

void XmlWriter::Text(std::string_view utf8) {
  if (open_.empty() || utf8.empty()) return;
  Element& e = open_.back();
  if (e.state == State::kTagOpen) out_ += '>';
  if (e.state == State::kElements) Indent(open_.size());
  if (e.state != State::kElements) e.state = State::kText;
  AppendEscaped(out_, utf8, false);
  if (e.state == State::kElements) out_ += '\n';
}

void XmlWriter::Close() {
  if (open_.empty()) return;
  Element e = std::move(open_.back());
  open_.pop_back();
  switch (e.state) {
    case State::kTagOpen:
      out_ += " />\n";
      return;
    case State::kElements:
      Indent(open_.size());
      break;
    case State::kText:
      break;
  }
  out_ += "</";
  out_ += e.name;
  out_ += ">\n";
}

std::string XmlWriter::Finish() {
  while (!open_.empty()) Close();
  return std::move(out_);
}

}  // namespace velquora::driver
