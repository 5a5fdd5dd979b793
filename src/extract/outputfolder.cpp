#include "extract/outputfolder.hpp"

#include "extract/safename.hpp"
#include "platform/diskfiles.hpp"
#include "platform/utf8path.hpp"

namespace v2bsp {
namespace {

// A parent the user cannot write to; anything else (a file in the way, a
// full disk) is reported as it is rather than sent elsewhere.
bool isNotWritable(const std::error_code& failure) {
    return failure == std::errc::permission_denied || failure == std::errc::read_only_file_system ||
           failure == std::errc::operation_not_permitted;
}

}  // namespace

// Every call goes to the files underneath, but a replacement of the map.
class OutputPlace::KeepingMap final : public OutputFiles {
public:
    KeepingMap(OutputFiles& files, const FileIdentity& map) : files_(files), map_(map) {}
    std::error_code createFolder(const std::filesystem::path& folder) override { return files_.createFolder(folder); }
    std::error_code createPath(const std::filesystem::path& folder) override { return files_.createPath(folder); }
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) override {
        if (files_.isFile(file, map_)) return OutputError::inputMap;
        return files_.replaceFile(file, source);
    }
    using OutputFiles::replaceFile;
    bool isFile(const std::filesystem::path& file, const FileIdentity& identity) override {
        return files_.isFile(file, identity);
    }
    FileIdentity identity(const std::filesystem::path& path) override { return files_.identity(path); }
    std::vector<std::string> fileNames(const std::filesystem::path& folder) override {
        return files_.fileNames(folder);
    }

private:
    OutputFiles& files_;
    const FileIdentity map_;
};

OutputPlace::OutputPlace(const ExtractSettings& settings, const FileIdentity& map)
    : settings_(settings),
      own_(settings.files == nullptr ? makeDiskFiles() : nullptr),
      files_(std::make_unique<KeepingMap>(settings.files != nullptr ? *settings.files : *own_, map)),
      parent_(settings.outputParent) {}

OutputPlace::~OutputPlace() = default;

std::error_code OutputPlace::makeParent() {
    if (!settings_.createOutputParent || parentAsked_) return {};
    parentAsked_ = true;
    const std::error_code failure = files_->createPath(parent_);
    parentReady_ = !failure;
    return failure;
}

OutputPlace::Folder OutputPlace::makeFolder(const std::string& name) {
    const bool fallback = !settings_.fallbackParent.empty();
    Folder folder;
    folder.failure = settings_.outputParentSystem && fallback ? std::make_error_code(std::errc::permission_denied)
                                                              : files_->createFolder(under(name));
    // Once the parent cannot take it, the fallback is where the files go,
    // whether or not the folder can be made there.
    if (folder.failure && isNotWritable(folder.failure) && fallback) {
        parent_ = settings_.fallbackParent;
        folder = {files_->createFolder(under(name)), true};
    }
    return folder;
}

std::optional<std::string> FolderClaims::claim(const std::string& folder, std::span<const FileIdentity> present,
                                               const std::string& map, const FileIdentity& identity) {
    const auto sameMap = [&identity](const Claim& earlier) { return identity.known && earlier.identity == identity; };
    for (const FileIdentity& there : present) {
        if (!there.known) continue;
        const auto found = written_.find({there.device, there.file});
        if (found != written_.end() && !sameMap(found->second)) return found->second.map;
    }
    const auto [at, taken] = taken_.try_emplace(caseKey(folder), Claim{map, identity});
    if (taken || sameMap(at->second)) return std::nullopt;
    return at->second.map;
}

void FolderClaims::record(const FileIdentity& written, const std::string& map, const FileIdentity& identity) {
    if (written.known) written_.insert_or_assign({written.device, written.file}, Claim{map, identity});
}

std::filesystem::path OutputPlace::under(const std::string& name) const {
    return parent_ / pathFromUtf8(name);
}

std::string OutputPlace::shown(const std::string& rest) const {
    std::string shown = utf8Text(parent_);
    const bool separated =
        !shown.empty() && (shown.back() == '/' || shown.back() == std::filesystem::path::preferred_separator);
    if (!separated) shown += '/';
    return shownPath(pathFromUtf8(shown + rest));
}

}  // namespace v2bsp
