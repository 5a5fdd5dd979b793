#include "ui/dialogs.hpp"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace v2bsp::ui {

std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QString& filename, const QString& filter) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // The desktop's dialogs may match "*.Map" case-sensitively, which would hide
    // maps named .map or .MAP; the toolkit's own dialog matches without case.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(filter);
    dialog->selectFile(filename);
    return dialog;
}

void FileDialogOpenBox::showOpen() {
    const auto dialog = makeOpenDialog(parent_, fileName_, filter_);
    const bool chosen = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
    fileName_ = chosen ? dialog->selectedFiles().constFirst() : QString();
}

void FileDialogSaveBox::showSave() {
    QFileDialog dialog(parent_);
    dialog.setWindowTitle(title_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters_);
    dialog.selectFile(fileName_);
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    fileName_ = chosen ? dialog.selectedFiles().constFirst() : QString();
    selected_ = chosen ? dialog.selectedNameFilter() : QString();
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

void MessageBoxPresenter::notAMap(const QString& text, const QString& reason) {
    makeNotAMapBox(parent_, text, reason)->exec();
}

void MessageBoxPresenter::failed(const QString& text, const QString& detail) {
    const auto box = makeNotAMapBox(parent_, text, detail);
    // The detail names a path the user may want to copy.
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    box->exec();
}

void MessageBoxPresenter::about(const QString& title, const QString& text) {
    QMessageBox::about(parent_, title, text);
}

}  // namespace v2bsp::ui
