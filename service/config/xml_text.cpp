#include "xml_text.h"

#include <cstdio>

namespace varnox::config {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

DetectedEncoding DetectFileEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return {FileEncoding::Utf16LittleEndian, 2};
    if (bytes.starts_with("\xFE\xFF")) return {FileEncoding::Utf16BigEndian, 2};
    if (bytes.starts_with("\xEF\xBB\xBF")) return {FileEncoding::Utf8, 3};
    const auto span = FindEncodingPseudoAttribute(bytes);
    if (!span) return {FileEncoding::Utf8, 0};
    const std::string_view name = bytes.substr(span->valueStart, span->valueLength);
    for (const char* gb : {"GB2312", "GBK", "CP936", "windows-936"}) {
        if (SameName(name, gb)) return {FileEncoding::Gb2312, 0};
    }
    for (const char* utf8 : {"UTF-8", "UTF8"}) {
        if (SameName(name, utf8)) return {FileEncoding::Utf8, 0};
    }
    return {FileEncoding::Unknown, 0};
}

std::string CharacterReference(std::uint32_t codePoint) {
    char text[16];
    std::snprintf(text, sizeof text, "&#x%X;", static_cast<unsigned>(codePoint));
    return text;
}

bool IsGb2312Pair(std::uint8_t lead, std::uint8_t trail) {
    return lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1 && trail <= 0xFE;
}

}  // namespace varnox::config
