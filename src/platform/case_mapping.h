#pragma once
// Unicode simple lower-case mapping that does not depend on the process locale.
namespace velquora::platform {
char32_t ToLowerSimple(char32_t c);
}
