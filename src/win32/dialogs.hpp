// The dialogs of v2bsp.exe behind small interfaces, so that tests answer them
// instead of a user and never wait on a modal window: the common open and
// save dialogs, and message boxes. Text and paths are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace v2bsp::win32 {

// One entry of a dialog's type list: what the user reads, and the patterns
// ("*.Map"; several apart by ";"). The system matches them without regard
// to case, so "*.Map" shows .map and .MAP files too.
struct FileFilter {
    std::string description;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

// Form1's "Vorun 2 Map File (*.Map)" and the "All files" after it.
std::vector<FileFilter> mapFilters();

// The open-file dialog of File > Open: the window sets the file name and the
// filter, shows it, and reads the file name back.
class OpenBox {
public:
    virtual ~OpenBox() = default;
    virtual void setFileName(const std::string& name) = 0;
    virtual void setFilter(const std::vector<FileFilter>& filter) = 0;
    // Modal; returns when the user confirms a file or cancels.
    virtual void showOpen() = 0;
    // The full path of the chosen file; empty after a cancel.
    virtual std::string fileName() const = 0;
};

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

// A save-file dialog: the window sets the title, a suggested name and the
// types, shows it, and reads back the name and the type the user chose.
class SaveBox {
public:
    virtual ~SaveBox() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setFileName(const std::string& name) = 0;
    // `extension` of the first type is added to a name typed without one.
    virtual void setFilters(const std::vector<FileFilter>& filters) = 0;
    // Modal; returns when the user confirms a name or cancels.
    virtual void showSave() = 0;
    // The full path; empty after a cancel.
    virtual std::string fileName() const = 0;
    // Index into the filters set; 0 when the dialog did not say.
    virtual int selectedFilter() const = 0;
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

// Tells the user what a window cannot do, and about the program.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // `text` is the message, `reason` says where and why the map failed.
    virtual void notAMap(const std::string& text, const std::string& reason) = 0;
    // Something asked for failed: `text` says what, `detail` why and what to do instead.
    virtual void failed(const std::string& text, const std::string& detail) = 0;
    // Help > About.
    virtual void about(const std::string& title, const std::string& text) = 0;
};

// Modal message boxes (MessageBoxW) with one OK button; the box's text can
// be copied with Ctrl+C.
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
