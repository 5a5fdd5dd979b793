// The dialogs of v2bsp.exe: the common open and save dialogs and message
// boxes, as the interfaces of app/dialogs.hpp that the windows' behaviour
// asks. Text and paths are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/dialogs.hpp"

namespace v2bsp::win32 {

using app::FileFilter;
using app::mapFilters;
using app::MessagePresenter;
using app::OpenBox;
using app::SaveBox;

// The system's open dialog (GetOpenFileNameW).
class CommonOpenBox final : public OpenBox {
public:
    explicit CommonOpenBox(HWND owner) : owner_(owner) {}
    void setFileName(const std::string& name) override { fileName_ = name; }
    void setFilter(const std::vector<FileFilter>& filter) override { filter_ = filter; }
    void showOpen() override;
    std::string fileName() const override { return fileName_; }

private:
    HWND owner_;
    std::string fileName_;
    std::vector<FileFilter> filter_;
};

// The system's save dialog (GetSaveFileNameW); it asks before replacing a file.
class CommonSaveBox final : public SaveBox {
public:
    explicit CommonSaveBox(HWND owner) : owner_(owner) {}
    void setTitle(const std::string& title) override { title_ = title; }
    void setFileName(const std::string& name) override { fileName_ = name; }
    void setFilters(const std::vector<FileFilter>& filters) override { filters_ = filters; }
    void showSave() override;
    std::string fileName() const override { return fileName_; }
    int selectedFilter() const override { return selected_; }

private:
    HWND owner_;
    std::string title_;
    std::string fileName_;
    std::vector<FileFilter> filters_;
    int selected_ = 0;
};

// Modal message boxes (MessageBoxW) with one OK button; the box's text can
// be copied with Ctrl+C. About shows the program's icon.
class MessageBoxPresenter final : public MessagePresenter {
public:
    explicit MessageBoxPresenter(HWND owner) : owner_(owner) {}
    void notAMap(const std::string& text, const std::string& reason) override;
    void failed(const std::string& text, const std::string& detail) override;
    void about(const std::string& title, const std::string& text) override;

private:
    HWND owner_;
};

// The filter text the common dialogs take: "description\0pattern\0...\0".
std::wstring filterText(const std::vector<FileFilter>& filters);

}  // namespace v2bsp::win32
