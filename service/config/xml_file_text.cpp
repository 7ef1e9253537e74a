#include "xml_file_text.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "log_line.h"
#include "xml_text.h"

namespace varnox::config {

namespace {

constexpr UINT kGb2312CodePage = 936;

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Closes now and reports whether that worked (a write can fail at the close).
    bool Close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// Text in a multi-byte code page, or nothing when its bytes are not valid there.
std::optional<std::wstring> Decode(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    const int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            length) != length) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::wstring> DecodeUtf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::wstring text(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<wchar_t>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    return text;
}

std::optional<std::string> EncodeOneIn936(char16_t character, void*) {
    const wchar_t wide = static_cast<wchar_t>(character);
    char bytes[4];
    BOOL usedDefault = FALSE;
    // No best fit: a character without its own bytes must become a reference, not a
    // look-alike.
    const int length = WideCharToMultiByte(kGb2312CodePage, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes,
                                           nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return std::nullopt;
    return std::string(bytes, static_cast<std::size_t>(length));
}

}  // namespace

XmlFileText ReadXmlFile(const std::string& path) {
    XmlFileText result;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return result;
        LogLine("CreateFileA() failed: %lu\n", error);
        result.state = FileState::Unreadable;
        return result;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        LogLine("GetFileSizeEx() failed: %lu\n", GetLastError());
        result.state = FileState::Unreadable;
        return result;
    }
    if (size.QuadPart == 0) return result;
    if (static_cast<std::uint64_t>(size.QuadPart) > MAX_CONFIGURATION_FILE_SIZE) {
        result.state = FileState::Unreadable;
        return result;
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
            LogLine("ReadFile() failed: %lu\n", GetLastError());
            result.state = FileState::Unreadable;
            return result;
        }
        if (read == 0) break;
        done += read;
    }
    bytes.resize(done);

    const DetectedEncoding detected = DetectFileEncoding(bytes);
    const std::string_view body = std::string_view(bytes).substr(detected.byteOrderMarkLength);
    std::optional<std::wstring> text;
    switch (detected.encoding) {
        case FileEncoding::Gb2312:
            text = Decode(kGb2312CodePage, body);
            break;
        case FileEncoding::Utf8:
            text = Decode(CP_UTF8, body);
            break;
        case FileEncoding::Utf16LittleEndian:
            text = DecodeUtf16(body, false);
            break;
        case FileEncoding::Utf16BigEndian:
            text = DecodeUtf16(body, true);
            break;
        case FileEncoding::Unknown:
            break;
    }
    if (!text) {
        result.state = FileState::Unreadable;
        return result;
    }
    result.state = FileState::Read;
    result.text = WithoutEncodingPseudoAttribute(std::wstring_view(*text));
    return result;
}

std::string EncodeXmlFile(std::wstring_view serialized) {
    std::string bytes = XML_DECLARATION;
    bytes += "\r\n";
    bytes += EncodeGb2312(WithoutDeclaration(serialized), EncodeOneIn936, nullptr);
    return bytes;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes) {
    FileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        LogLine("CreateFileA() failed: %lu\n", GetLastError());
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            LogLine("WriteFile() failed: %lu\n", GetLastError());
            return false;
        }
        done += written;
    }
    // On disk before it is renamed over the only other copy.
    if (!FlushFileBuffers(file.get())) {
        LogLine("FlushFileBuffers() failed: %lu\n", GetLastError());
        return false;
    }
    if (!file.Close()) {
        LogLine("CloseHandle() failed: %lu\n", GetLastError());
        return false;
    }
    return true;
}

}  // namespace varnox::config
