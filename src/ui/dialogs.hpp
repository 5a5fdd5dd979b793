// The toolkit's dialogs as the interfaces of app/dialogs.hpp that the
// windows' behaviour asks: texts and paths come and go as UTF-8, and become
// QStrings only here.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.hpp"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace v2bsp::ui {

using app::FileFilter;
using app::MessagePresenter;
using app::OpenBox;
using app::SaveBox;

// A filter as the toolkit's dialogs take it: "Description (*.a *.b)"; a
// description that names its patterns already is taken as it is.
QString nameFilter(const FileFilter& filter);

// The toolkit's open-file dialog. Its own (not the desktop's) dialog is used,
// because that one matches the filter's pattern without regard to case.
class FileDialogOpenBox final : public OpenBox {
public:
    explicit FileDialogOpenBox(QWidget* parent) : parent_(parent) {}
    void setFileName(const std::string& name) override { fileName_ = name; }
    void setFilter(const std::vector<FileFilter>& filter) override { filter_ = filter; }
    void showOpen() override;
    std::string fileName() const override { return fileName_; }

private:
    QWidget* parent_;
    std::string fileName_;
    std::vector<FileFilter> filter_;
};

// The dialog FileDialogOpenBox shows, set up but not shown.
std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QString& filename,
                                            const std::vector<FileFilter>& filter);

// The toolkit's save-file dialog.
class FileDialogSaveBox final : public SaveBox {
public:
    explicit FileDialogSaveBox(QWidget* parent) : parent_(parent) {}
    void setTitle(const std::string& title) override { title_ = title; }
    void setFileName(const std::string& name) override { fileName_ = name; }
    void setFilters(const std::vector<FileFilter>& filters) override { filters_ = filters; }
    void showSave() override;
    std::string fileName() const override { return fileName_; }
    int selectedFilter() const override { return selected_; }

private:
    QWidget* parent_;
    std::string title_;
    std::string fileName_;
    std::vector<FileFilter> filters_;
    int selected_ = 0;
};

// Modal message boxes with the text, the reason or detail under it (which
// can be selected and copied) and one OK button; About shows the program's
// icon.
class MessageBoxPresenter final : public MessagePresenter {
public:
    explicit MessageBoxPresenter(QWidget* parent) : parent_(parent) {}
    void notAMap(const std::string& text, const std::string& reason) override;
    void failed(const std::string& text, const std::string& detail) override;
    void about(const std::string& title, const std::string& text) override;

private:
    QWidget* parent_;
};

// The boxes MessageBoxPresenter shows, set up but not shown.
std::unique_ptr<QMessageBox> makeNotAMapBox(QWidget* parent, const QString& text, const QString& reason);
std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const QString& title, const QString& text);

}  // namespace v2bsp::ui
