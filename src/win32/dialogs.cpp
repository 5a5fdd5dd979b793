#include "win32/dialogs.hpp"

#include <commdlg.h>

#include "app/texts.hpp"
#include "win32/wingui.hpp"

namespace v2bsp::win32 {

namespace {

// Room for a long path in the \\?\ form.
constexpr std::size_t kPathRoom = 32768;

std::wstring ownerTitle(HWND owner) {
    std::wstring title(256, L'\0');
    title.resize(static_cast<std::size_t>(owner != nullptr ? GetWindowTextW(owner, title.data(), 256) : 0));
    return title;
}

// The fields both file boxes fill alike: the owner, the types (the first
// chosen), and `name`, which holds the suggested name and receives the chosen.
OPENFILENAMEW fileBox(HWND owner, const std::wstring& filter, std::wstring& name, DWORD flags) {
    name.resize(kPathRoom, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | flags;
    return ofn;
}

void box(HWND owner, const std::string& text, UINT icon) {
    MessageBoxW(owner, wide(text).c_str(), ownerTitle(owner).c_str(), MB_OK | icon);
}

}  // namespace

std::wstring filterText(const std::vector<FileFilter>& filters) {
    std::wstring text;
    for (const FileFilter& filter : filters) {
        text += wide(filter.description);
        text.push_back(L'\0');
        text += wide(filter.pattern);
        text.push_back(L'\0');
    }
    text.push_back(L'\0');
    return text;
}

void CommonOpenBox::showOpen() {
    std::wstring name = wide(fileName_);
    const std::wstring filter = filterText(filter_);
    OPENFILENAMEW ofn = fileBox(owner_, filter, name, OFN_FILEMUSTEXIST);
    fileName_ = GetOpenFileNameW(&ofn) != FALSE ? utf8(name.c_str()) : std::string();
}

void CommonSaveBox::showSave() {
    std::wstring name = wide(fileName_);
    const std::wstring filter = filterText(filters_);
    const std::wstring title = wide(title_);
    // The first type's extension, without "*.", for a name typed without one.
    const std::wstring extension = filters_.empty() ? std::wstring() : wide(filters_[0].pattern.substr(2));
    OPENFILENAMEW ofn = fileBox(owner_, filter, name, OFN_OVERWRITEPROMPT);
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    const bool chosen = GetSaveFileNameW(&ofn) != FALSE;
    fileName_ = chosen ? utf8(name.c_str()) : std::string();
    selected_ = chosen && ofn.nFilterIndex >= 1 ? static_cast<int>(ofn.nFilterIndex) - 1 : 0;
}

void MessageBoxPresenter::notAMap(const std::string& text, const std::string& reason) {
    box(owner_, text + "\n\n" + reason, MB_ICONWARNING);
}

void MessageBoxPresenter::failed(const std::string& text, const std::string& detail) {
    box(owner_, text + "\n\n" + detail, MB_ICONWARNING);
}

void MessageBoxPresenter::about(const std::string& title, const std::string& text) {
    const std::wstring body = wide(text), caption = wide(title);
    MSGBOXPARAMSW box{};
    box.cbSize = sizeof box;
    box.hwndOwner = owner_;
    box.hInstance = GetModuleHandleW(nullptr);
    box.lpszText = body.c_str();
    box.lpszCaption = caption.c_str();
    box.dwStyle = MB_OK | MB_USERICON;
    box.lpszIcon = MAKEINTRESOURCEW(1);  // the program's own icon
    MessageBoxIndirectW(&box);
}

}  // namespace v2bsp::win32
