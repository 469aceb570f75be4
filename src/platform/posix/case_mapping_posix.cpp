#include <locale.h>
#include <wctype.h>

#include "platform/case_mapping.h"

namespace velquora::platform {
namespace {

// A private C.UTF-8 locale: its character classes cover all of Unicode and do not change
// when the host process switches its own locale.
// Freed when the library is unloaded, so a host that loads and unloads it leaks nothing.
class Utf8LocaleHolder {
 public:
  Utf8LocaleHolder() {
    loc_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!loc_) loc_ = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
  }
  ~Utf8LocaleHolder() {
    if (loc_) freelocale(loc_);
  }
  Utf8LocaleHolder(const Utf8LocaleHolder&) = delete;
  Utf8LocaleHolder& operator=(const Utf8LocaleHolder&) = delete;
  locale_t get() const { return loc_; }

 private:
  locale_t loc_;
};

locale_t Utf8Locale() {
  static Utf8LocaleHolder holder;
  return holder.get();
}

// Used only where no UTF-8 locale exists: Latin-1 and basic Cyrillic.
char32_t FallbackLower(char32_t c) {
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x410 && c <= 0x42F)) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

char32_t ToLowerSimple(char32_t c) {
  locale_t loc = Utf8Locale();
  if (!loc) return FallbackLower(c);
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
}

}  // namespace velquora::platform
