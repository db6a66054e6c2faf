#include "Text.h"

#include <cstdio>

namespace tarnix::service {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

Target SplitTarget(std::string_view target) {
    Target parts;
    auto scheme = target.find("://");
    if (scheme != std::string_view::npos && target.substr(0, scheme).find_first_of("/?") == std::string_view::npos) {
        auto rest = target.substr(scheme + 3);
        auto pathStart = rest.find_first_of("/?");
        parts.authority = std::string(rest.substr(0, pathStart));
        target = pathStart == std::string_view::npos ? std::string_view("/") : rest.substr(pathStart);
    }
    auto mark = target.find('?');
    parts.path = std::string(target.substr(0, mark));
    if (parts.path.empty()) parts.path = "/";
    if (mark != std::string_view::npos) parts.query = std::string(target.substr(mark + 1));
    return parts;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high, low;
        if (text[i] == '%' && i + 2 < text.size() && (high = HexValue(text[i + 1])) >= 0 &&
            (low = HexValue(text[i + 2])) >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

Query ParseQuery(std::string_view query) {
    Query values;
    while (!query.empty()) {
        auto end = query.find('&');
        auto pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        if (pair.empty()) continue;
        auto equals = pair.find('=');
        auto name = LowerAscii(PercentDecode(pair.substr(0, equals)));
        auto value = equals == std::string_view::npos ? std::string() : PercentDecode(pair.substr(equals + 1));
        values.emplace(std::move(name), std::move(value));
    }
    return values;
}

std::string LoggedTarget(std::string_view target) {
    auto mark = target.find('?');
    auto path = SplitTarget(target).path;
    std::string shown(target.substr(0, mark));
    if (PercentDecode(path).rfind("/files/", 0) == 0) {
        shown = shown.substr(0, shown.size() - path.size()) + "/files/***";
    } else if (mark != std::string_view::npos) {
        auto query = target.substr(mark + 1);
        shown += '?';
        for (;;) {
            auto end = query.find('&');
            auto pair = query.substr(0, end);
            auto equals = pair.find('=');
            auto name = LowerAscii(PercentDecode(pair.substr(0, equals)));
            bool secret = equals != std::string_view::npos && (name == "password" || name == "att");
            shown += secret ? std::string(pair.substr(0, equals + 1)) + "***" : std::string(pair);
            if (end == std::string_view::npos) break;
            shown += '&';
            query.remove_prefix(end + 1);
        }
    }
    std::string out;
    for (unsigned char c : shown) {
        if (c > 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSpace(text[i])) ++i;
        auto start = i;
        while (i < text.size() && !IsSpace(text[i])) ++i;
        if (i > start) words.push_back(LowerAscii(text.substr(start, i - start)));
    }
    return words;
}

std::string NormalizeSpace(std::string_view text) {
    std::string out;
    for (const auto& word : Words(text)) {
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            out += (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : c;
        }
    }
    return out;
}

std::string XmlElement(std::string_view name, std::string_view text) {
    std::string out = "<";
    out.append(name).append(">").append(XmlEscape(text)).append("</").append(name).append(">");
    return out;
}

}  // namespace tarnix::service
