// Where a run's files go: the parent the user chose (or its fallback), the
// map's folder in it for the mesh files, and the whole-level files beside
// that folder. Decides and makes; the run says what happened in its log.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "extract/extractmap.hpp"
#include "platform/outputfiles.hpp"

namespace v2bsp {

class OutputPlace {
public:
    // Through `settings.files`, or a real file system of the place's own.
    // No file is ever replaced that is the file of `map` (the map being
    // extracted): its replacement fails as OutputError::inputMap.
    OutputPlace(const ExtractSettings& settings, const FileIdentity& map);
    ~OutputPlace();
    OutputPlace(const OutputPlace&) = delete;
    OutputPlace& operator=(const OutputPlace&) = delete;

    OutputFiles& files() const { return *files_; }
    // The parent of the map's folder and of the whole-level files.
    const std::filesystem::path& parent() const { return parent_; }

    // Makes the parent the user named, when the settings ask for that, the
    // first time it is called; the failure of that attempt, else success.
    // ready() says afterwards whether the parent can take files.
    std::error_code makeParent();
    bool ready() const { return parentReady_; }

    struct Folder {
        std::error_code failure;  // the folder could not be made where it was last tried
        bool fellback = false;    // tried in the fallback parent, which is the parent now
    };
    // Makes the map's folder `name` in the parent; where the parent cannot
    // take it (not writable, or a folder the host keeps free of output) it
    // goes to the fallback parent instead, which then takes every file, even
    // when the folder cannot be made there either. A folder already there is
    // used as it is.
    Folder makeFolder(const std::string& name);

    // The path of `name` (UTF-8) in the parent.
    std::filesystem::path under(const std::string& name) const;

    // `rest` (a name under the parent, with "/" between its parts) as the
    // user will recognise it: the parent as given, a separator, then the rest,
    // in UTF-8 and with the system's own separator throughout.
    std::string shown(const std::string& rest) const;

private:
    class KeepingMap;

    const ExtractSettings& settings_;
    std::unique_ptr<OutputFiles> own_;
    std::unique_ptr<OutputFiles> files_;  // keeps the map from being replaced
    std::filesystem::path parent_;
    bool parentAsked_ = false;
    bool parentReady_ = true;
};

}  // namespace v2bsp
