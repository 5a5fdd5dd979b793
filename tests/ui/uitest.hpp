// What the window tests share: dialogs that answer instead of a user, output
// files that refuse some folders, and maps written by the map builder.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "extract/extractmap.hpp"
#include "mapbuilder/mapbuilder.hpp"
#include "mapfile.hpp"
#include "platform/diskfiles.hpp"
#include "recordinghost.hpp"
#include "refusingfiles.hpp"
#include "ui/dialogs.hpp"
#include "ui/form1.hpp"

namespace uitest {

namespace fs = std::filesystem;
namespace mb = v2bsp::mapbuilder;

// How long, in milliseconds, a test waits for what the window does by itself
// (a paint, a focus change, a run's end) before calling it hung. Every wait
// returns as soon as its condition holds, so this only bounds a hang; it is
// minutes so that a machine busy with other work never reaches it.
inline constexpr int kPatience = 2 * 60 * 1000;

using v2bsp::ui::Form1;

// Answers File > Open with the next of its answers ("" is a cancel) and keeps
// what the window set before showing it.
class ScriptedOpenBox final : public v2bsp::app::OpenBox {
public:
    explicit ScriptedOpenBox(QStringList answers) : answers_(std::move(answers)) {}
    void setFileName(const std::string& name) override {
        fileName_ = QString::fromStdString(name);
        namesset.append(fileName_);
    }
    void setFilter(const std::vector<v2bsp::app::FileFilter>& filter) override {
        QStringList names;
        for (const v2bsp::app::FileFilter& one : filter) names << v2bsp::ui::nameFilter(one);
        filters.append(names.join(";;"));
    }
    void showOpen() override {
        ++shown;
        fileName_ = answers_.isEmpty() ? QString() : answers_.takeFirst();
    }
    std::string fileName() const override { return fileName_.toStdString(); }

    QStringList namesset;
    QStringList filters;  // each as the toolkit's dialog shows it, joined by ";;"
    int shown = 0;

private:
    QStringList answers_;
    QString fileName_;
};

struct Notice {
    QString text;
    QString reason;  // or the detail of a failure, or the About text
};

class CapturedMessages final : public v2bsp::app::MessagePresenter {
public:
    explicit CapturedMessages(std::vector<Notice>& notices) : notices_(notices) {}
    void notAMap(const std::string& text, const std::string& reason) override {
        notices_.push_back({QString::fromStdString(text), QString::fromStdString(reason)});
        if (onnotice) onnotice();
    }
    void failed(const std::string& text, const std::string& detail) override {
        failures.push_back({QString::fromStdString(text), QString::fromStdString(detail)});
    }
    void about(const std::string& title, const std::string& text) override {
        abouts.push_back({QString::fromStdString(title), QString::fromStdString(text)});
    }
    std::function<void()> onnotice;  // runs while the box would be up
    std::vector<Notice> failures, abouts;

private:
    std::vector<Notice>& notices_;
};

using v2bsp::fixtures::RefusingFiles;

inline QStringList qtList(const std::vector<std::string>& items) {
    QStringList list;
    for (const std::string& item : items) list << QString::fromStdString(item);
    return list;
}

// The lines every complete run writes, with `meshes` mesh lines.
inline QStringList completeLog(int meshes) {
    return qtList(v2bsp::fixtures::logFor(meshes));
}

// The window's log of a complete run: those lines, then where the files went.
inline QStringList windowLog(int meshes, const QString& folder) {
    return qtList(v2bsp::fixtures::windowLog(meshes, folder.toStdString()));
}

using v2bsp::smallMap;
using v2bsp::writeMap;

inline QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// The names in `folder`, sorted; empty when it does not exist.
inline QStringList listing(const fs::path& folder) {
    return qtList(v2bsp::listing(folder));
}

}  // namespace uitest
