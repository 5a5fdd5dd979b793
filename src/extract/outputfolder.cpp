#include "extract/outputfolder.hpp"

#include "platform/diskfiles.hpp"

namespace v2bsp {
namespace {

// A parent the user cannot write to; anything else (a file in the way, a
// full disk) is reported as it is rather than sent elsewhere.
bool isNotWritable(const std::error_code& failure) {
    return failure == std::errc::permission_denied || failure == std::errc::read_only_file_system ||
           failure == std::errc::operation_not_permitted;
}

}  // namespace

OutputPlace::OutputPlace(const ExtractSettings& settings)
    : settings_(settings),
      own_(settings.files == nullptr ? makeDiskFiles() : nullptr),
      files_(settings.files != nullptr ? settings.files : own_.get()),
      parent_(settings.outputParent) {}

OutputPlace::~OutputPlace() = default;

std::error_code OutputPlace::makeParent() {
    if (!settings_.createOutputParent || parentasked_) return {};
    parentasked_ = true;
    const std::error_code failure = files_->createPath(parent_);
    parentready_ = !failure;
    return failure;
}

OutputPlace::Folder OutputPlace::makeFolder(const std::string& name) {
    const bool fallback = !settings_.fallbackParent.empty();
    Folder folder;
    folder.failure = settings_.outputParentSystem && fallback ? std::make_error_code(std::errc::permission_denied)
                                                              : files_->createFolder(parent_ / name);
    if (folder.failure && isNotWritable(folder.failure) && fallback &&
        !files_->createFolder(settings_.fallbackParent / name)) {
        parent_ = settings_.fallbackParent;
        folder = {{}, true};
    }
    return folder;
}

std::string OutputPlace::shown(const std::string& rest) const {
    std::string shown = parent_.string();
    if (shown.empty() || shown.back() != '/') shown += '/';
    return shown + rest;
}

}  // namespace v2bsp
