// The dialogs the windows' behaviour asks for, behind small interfaces that
// each host implements with its toolkit's dialogs, and that tests answer
// instead of a user, never waiting on a modal window. Text and paths are
// UTF-8.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace v2bsp::app {

// One entry of a dialog's type list: what the user reads, and the patterns
// ("*.Map"; several apart by ";"). Both hosts match them without regard to
// case, so "*.Map" shows .map and .MAP files too.
struct FileFilter {
    std::string description;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

// File > Open's filters: "Vorun 2 Map File (*.Map)", then every file.
std::vector<FileFilter> mapFilters();

// The open-file dialog of File > Open (`openbox`): the window sets the file
// name and the filter, shows it, and reads the file name back.
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

// A save-file dialog: the window sets the title, a suggested name and the
// types, shows it, and reads back the name and the type the user chose.
class SaveBox {
public:
    virtual ~SaveBox() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setFileName(const std::string& name) = 0;
    virtual void setFilters(const std::vector<FileFilter>& filters) = 0;
    // Modal; returns when the user confirms a name or cancels.
    virtual void showSave() = 0;
    // The full path; empty after a cancel.
    virtual std::string fileName() const = 0;
    // Index into the filters set; 0 when the dialog did not say.
    virtual int selectedFilter() const = 0;
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

// Shows `folder` in the system's file manager, asking it for no box of its
// own, then calls `done` with why that failed, or with an empty text when it
// did not: at once, or when the opener has ended.
using FolderOpener =
    std::function<void(const std::filesystem::path& folder, std::function<void(const std::string& failure)> done)>;

}  // namespace v2bsp::app
