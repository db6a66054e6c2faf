// Small text helpers: the request target and its query, XML escaping, ASCII case folding.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarnix::service {

// A request target split into its parts. Through a proxy the target is absolute
// ("http://host:80/path?query"); directly it is a plain path ("/path?query").
struct Target {
    std::string authority;  // "host:port" of an absolute target, else empty
    std::string path;       // still percent-encoded
    std::string query;      // after the first '?', still percent-encoded
};
Target SplitTarget(std::string_view target);

// Query values keyed by lower-case name; the first of repeated names wins. Values are
// percent-decoded (%xx, either case); '+' stays a plus sign, because the library writes a
// space as %20 and sends some values unencoded.
using Query = std::map<std::string, std::string>;
Query ParseQuery(std::string_view query);
std::string PercentDecode(std::string_view text);

// The target as it may be logged: the values of password and att (by their decoded names) and the
// name of a served file (the only key to an export) as "***", and every byte outside printable
// ASCII as %XX, so that no secret and no control character reaches the log.
std::string LoggedTarget(std::string_view target);

std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string_view TrimSpace(std::string_view text);
// Lower-cased words of the text, split at white space.
std::vector<std::string> Words(std::string_view text);
// Lower-cased text with runs of white space made one space and none at either end.
std::string NormalizeSpace(std::string_view text);

// Element content or attribute value. Bytes from 0x80 on pass unchanged (the library decodes
// answers with the host's code page); control characters, invalid in XML, become '?'.
std::string XmlEscape(std::string_view text);
std::string XmlElement(std::string_view name, std::string_view text);

}  // namespace tarnix::service
