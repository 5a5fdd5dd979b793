// The two dialogs of the window, behind small interfaces so that tests answer
// them instead of a user and never wait on a modal window.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "app/texts.hpp"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace v2bsp::ui {

// The filter File > Open sets; its pattern matches .Map, .map and .MAP alike.
inline constexpr const char* kMapFilter = v2bsp::app::kMapFilterName;
// The filter offered after it, for a map named otherwise.
inline constexpr char kAllFilesFilter[] = "All files (*)";

// The open-file dialog of File > Open (`openbox`): the window sets the file
// name and the filter, shows it, and reads the file name back.
class OpenBox {
public:
    virtual ~OpenBox() = default;
    virtual void setFileName(const QString& name) = 0;
    virtual void setFilter(const QString& filter) = 0;
    // Modal; returns when the user confirms a file or cancels.
    virtual void showOpen() = 0;
    // The full path of the chosen file; empty after a cancel.
    virtual QString fileName() const = 0;
};

// The toolkit's open-file dialog. Its own (not the desktop's) dialog is used,
// because that one matches the filter's pattern without regard to case.
class FileDialogOpenBox final : public OpenBox {
public:
    explicit FileDialogOpenBox(QWidget* parent) : parent_(parent) {}
    void setFileName(const QString& name) override { fileName_ = name; }
    void setFilter(const QString& filter) override { filter_ = filter; }
    void showOpen() override;
    QString fileName() const override { return fileName_; }

private:
    QWidget* parent_;
    QString fileName_;
    QString filter_;
};

// The dialog FileDialogOpenBox shows, set up but not shown.
std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QString& filename, const QString& filter);

// A save-file dialog: the window sets the filters and a suggested name, shows
// it, and reads back the file name and the filter the user chose.
class SaveBox {
public:
    virtual ~SaveBox() = default;
    virtual void setTitle(const QString& title) = 0;
    virtual void setFileName(const QString& name) = 0;
    virtual void setFilters(const QStringList& filters) = 0;
    // Modal; returns when the user confirms a name or cancels.
    virtual void showSave() = 0;
    // The full path; empty after a cancel.
    virtual QString fileName() const = 0;
    // One of the filters set; the first when the dialog did not say.
    virtual QString selectedFilter() const = 0;
};

// The toolkit's save-file dialog.
class FileDialogSaveBox final : public SaveBox {
public:
    explicit FileDialogSaveBox(QWidget* parent) : parent_(parent) {}
    void setTitle(const QString& title) override { title_ = title; }
    void setFileName(const QString& name) override { fileName_ = name; }
    void setFilters(const QStringList& filters) override { filters_ = filters; }
    void showSave() override;
    QString fileName() const override { return fileName_; }
    QString selectedFilter() const override { return selected_; }

private:
    QWidget* parent_;
    QString title_;
    QString fileName_;
    QStringList filters_;
    QString selected_;
};

// Tells the user what a window cannot do, and about the program.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // `text` is the message, `reason` says where and why the map failed.
    virtual void notAMap(const QString& text, const QString& reason) = 0;
    // Something asked for failed: `text` says what, `detail` why, and what to do instead.
    virtual void failed(const QString& text, const QString& detail) = 0;
    // Help > About.
    virtual void about(const QString& title, const QString& text) = 0;
};

// Modal message boxes with the text, the reason or detail under it (which
// can be selected and copied) and one OK button.
class MessageBoxPresenter final : public MessagePresenter {
public:
    explicit MessageBoxPresenter(QWidget* parent) : parent_(parent) {}
    void notAMap(const QString& text, const QString& reason) override;
    void failed(const QString& text, const QString& detail) override;
    void about(const QString& title, const QString& text) override;

private:
    QWidget* parent_;
};

// The box MessageBoxPresenter shows, set up but not shown.
std::unique_ptr<QMessageBox> makeNotAMapBox(QWidget* parent, const QString& text, const QString& reason);

}  // namespace v2bsp::ui
