// UTF-8 that survives any byte string: bytes that are not part of a valid
// UTF-8 sequence (stray continuation bytes, overlong forms, surrogates,
// values beyond U+10FFFF, truncated sequences) are decoded one by one into
// the lone surrogates U+DC80..U+DCFF and encoded back into the same bytes.
#pragma once

#include <string>

namespace any::utf8 {

std::u16string decode(const std::string& bytes);
// False when the text holds a lone surrogate outside U+DC80..U+DCFF, which
// no byte string decodes to.
bool encode(const std::u16string& text, std::string& out);
// As `encode`, but such surrogates become U+FFFD.
std::string encode_lenient(const std::u16string& text);

}  // namespace any::utf8
