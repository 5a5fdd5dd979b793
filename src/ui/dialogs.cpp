#include "ui/dialogs.hpp"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include "ui/appicon.hpp"
#include "ui/paths.hpp"

namespace v2bsp::ui {

namespace {

QStringList nameFilters(const std::vector<FileFilter>& filters) {
    QStringList names;
    for (const FileFilter& filter : filters) names << nameFilter(filter);
    return names;
}

}  // namespace

QString nameFilter(const FileFilter& filter) {
    const QString description = text(filter.description);
    if (description.contains('(')) return description;
    return description + " (" + text(filter.pattern).replace(';', ' ') + ")";
}

std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QString& filename,
                                            const std::vector<FileFilter>& filter) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // The desktop's dialogs may match "*.Map" case-sensitively, which would hide
    // maps named .map or .MAP; the toolkit's own dialog matches without case.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(nameFilters(filter));
    dialog->selectFile(filename);
    return dialog;
}

void FileDialogOpenBox::showOpen() {
    const auto dialog = makeOpenDialog(parent_, text(fileName_), filter_);
    const bool chosen = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
    fileName_ = chosen ? dialog->selectedFiles().constFirst().toStdString() : std::string();
}

void FileDialogSaveBox::showSave() {
    QFileDialog dialog(parent_);
    dialog.setWindowTitle(text(title_));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList names = nameFilters(filters_);
    dialog.setNameFilters(names);
    dialog.selectFile(text(fileName_));
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    fileName_ = chosen ? dialog.selectedFiles().constFirst().toStdString() : std::string();
    selected_ = chosen ? static_cast<int>(std::max<qsizetype>(0, names.indexOf(dialog.selectedNameFilter()))) : 0;
}

std::unique_ptr<QMessageBox> makeNotAMapBox(QWidget* parent, const QString& text, const QString& reason) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(parent != nullptr ? parent->windowTitle() : QString());
    box->setText(text);
    box->setInformativeText(reason);
    box->setStandardButtons(QMessageBox::Ok);
    // A box of one size has nothing to maximize.
    box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    return box;
}

std::unique_ptr<QMessageBox> makeAboutBox(QWidget* parent, const QString& title, const QString& text) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(title);
    box->setText(text);
    box->setIconPixmap(appIcon().pixmap(64, 64));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void MessageBoxPresenter::notAMap(const std::string& message, const std::string& reason) {
    makeNotAMapBox(parent_, text(message), text(reason))->exec();
}

void MessageBoxPresenter::failed(const std::string& message, const std::string& detail) {
    const auto box = makeNotAMapBox(parent_, text(message), text(detail));
    // The detail names a path the user may want to copy.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    box->exec();
}

void MessageBoxPresenter::about(const std::string& title, const std::string& message) {
    makeAboutBox(parent_, text(title), text(message))->exec();
}

}  // namespace v2bsp::ui
