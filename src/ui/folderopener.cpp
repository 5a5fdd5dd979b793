#include "ui/folderopener.hpp"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "ui/paths.hpp"

namespace v2bsp::ui {

app::FolderOpener systemFolderOpener(QObject* owner) {
    return [owner](const std::filesystem::path& where, std::function<void(const std::string&)> answer) {
        const QString folder = qtPath(where);
        const auto done = [answer](const QString& failure) { answer(failure.toStdString()); };
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (opener.isEmpty()) {
            const bool shown = QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
            done(shown ? QString() : QStringLiteral("No program to show folders was found."));
            return;
        }
        // xdg-open ends once the file manager has the folder, or says why
        // not. One that stays (a file manager of its own) is left running:
        // only a failure is waited for.
        auto* process = new QProcess(owner);
        QObject::connect(process, &QProcess::finished, process, [process, done](int status, QProcess::ExitStatus exit) {
            QString failure;
            if (exit != QProcess::NormalExit) {
                failure = QStringLiteral("xdg-open ended abnormally.");
            } else if (status != 0) {
                const QStringList said =
                    QString::fromLocal8Bit(process->readAllStandardError()).trimmed().split('\n', Qt::SkipEmptyParts);
                failure = QStringLiteral("xdg-open ended with status %1").arg(status) +
                          (said.isEmpty() ? QStringLiteral(".") : ": " + said.constLast());
            }
            done(failure);
            process->deleteLater();
        });
        QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            done(QStringLiteral("xdg-open could not be started: ") + process->errorString() + ".");
            process->deleteLater();
        });
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(opener, {folder});
    };
}

}  // namespace v2bsp::ui
