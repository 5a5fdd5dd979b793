#include "platform/win32/winsystem.hpp"

#include <winternl.h>

namespace v2bsp {
namespace {

// Longest path that every call takes without the \\?\ form: a folder's path
// must leave room for a file name of 8.3 characters.
constexpr std::size_t kShortPath = MAX_PATH - 12;

class SystemCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override {
        wchar_t* text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        if (length == 0) return "Windows error " + std::to_string(static_cast<DWORD>(code));
        std::wstring_view sentence(text, length);
        // The system's messages end in a line break.
        while (!sentence.empty() && (sentence.back() == L'\n' || sentence.back() == L'\r' || sentence.back() == L' ')) {
            sentence.remove_suffix(1);
        }
        std::string message = utf8FromWide(sentence);
        ::LocalFree(text);
        return message;
    }
    std::error_condition default_error_condition(int code) const noexcept override {
        return std::system_category().default_error_condition(code);
    }
};

}  // namespace

std::error_code systemError(DWORD code) {
    static const SystemCategory kCategory;
    return {static_cast<int>(code), kCategory};
}

std::error_code ntError(LONG status) {
    return systemError(::RtlNtStatusToDosError(status));
}

std::string utf8FromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

std::wstring systemPath(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    if (given.size() < kShortPath || given.starts_with(L"\\\\?\\")) return given;
    std::error_code ignored;
    std::filesystem::path full = std::filesystem::absolute(path, ignored).lexically_normal();
    full.make_preferred();
    const std::wstring& text = full.native();
    if (text.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + text.substr(2);
    return L"\\\\?\\" + text;
}

}  // namespace v2bsp
