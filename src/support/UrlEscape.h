// The one escaping rule for values put into a query or a multipart file name. Lives here, below
// the transport, because the upload escapes its local file name as well as the operations their
// query values.
#pragma once

#include <string>

namespace tarnix {

// Escapes `text` byte by byte: ASCII letters, digits and ". - _ *" stay; every other byte
// (space and 0x80-0xFF included) becomes '%' and two lower-case hex digits. No plus form for
// the space and no character set conversion.
std::string URLEncode(const std::string& text);

}  // namespace tarnix
