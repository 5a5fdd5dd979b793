#include <QApplication>
#include <QFile>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/diskfiles.hpp"
#include "ui/appicon.hpp"
#include "ui/commandline.hpp"
#include "ui/form1.hpp"
#include "version.hpp"

namespace {

std::vector<std::string> argumentsOf(const QStringList& list) {
    std::vector<std::string> args;
    for (qsizetype i = 1; i < list.size(); ++i) args.push_back(QFile::encodeName(list[i]).toStdString());
    return args;
}

int answer(const v2bsp::ui::StartRequest& request) {
    using Action = v2bsp::ui::StartRequest::Action;
    if (request.action == Action::version) std::cout << v2bsp::ui::versionText();
    if (request.action == Action::help) std::cout << v2bsp::ui::helpText();
    if (request.action != Action::usageError) return 0;
    std::cerr << v2bsp::ui::kProgramName << ": " << request.error << "\n"
              << "Try '" << v2bsp::ui::kProgramName << " --help' for more information.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // --version, --help and a usage error answer without a display: the
    // toolkit is started only for a command line that opens the window.
    const std::vector<std::string> raw(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (v2bsp::ui::wantsTextOnly(raw)) return answer(v2bsp::ui::parseCommandLine(raw));
    const v2bsp::ui::StartRequest early = v2bsp::ui::parseCommandLine(v2bsp::ui::withoutToolkitOptions(raw));
    if (early.action != v2bsp::ui::StartRequest::Action::window) return answer(early);
    // The toolkit would abort without a display; say what to use instead.
    if (!v2bsp::ui::canOpenWindow(raw, [](const char* name) -> const char* { return std::getenv(name); })) {
        std::cerr << v2bsp::ui::kNoDisplay << "\n";
        return 1;
    }

    v2bsp::installTemporaryCleanup();
    v2bsp::reportWriteSignalsAsErrors();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(v2bsp::ui::kProgramName));
    QApplication::setApplicationVersion(QString::fromUtf8(v2bsp::kVersionText));
    QApplication::setDesktopFileName(QString::fromUtf8(v2bsp::kDesktopId));
    QApplication::setWindowIcon(v2bsp::ui::appIcon());

    const v2bsp::ui::StartRequest request = v2bsp::ui::parseCommandLine(argumentsOf(app.arguments()));
    if (request.action != v2bsp::ui::StartRequest::Action::window) return answer(request);

    v2bsp::ui::Form1 window;
    window.show();
    // Once the loop runs, so that a map that cannot be read shows its box
    // over the window rather than alone before it.
    if (!request.map.empty()) {
        QMetaObject::invokeMethod(
            &window, [&window, map = QFile::decodeName(request.map.c_str())] { window.chooseMap(map); },
            Qt::QueuedConnection);
    }
    return QApplication::exec();
}
