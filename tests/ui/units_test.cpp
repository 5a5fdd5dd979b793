// The window's small units: twips to pixels and the command line.
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include "ui/commandline.hpp"
#include "ui/twips.hpp"

using v2bsp::ui::StartRequest;
Q_DECLARE_METATYPE(StartRequest::Action)

class UnitsTest : public QObject {
    Q_OBJECT

private slots:
    void twipsToPixels_data();
    void twipsToPixels();
    void touchingControlsTouch();
    void commandLine_data();
    void commandLine();
    void toolkitOptionsAreSetAside_data();
    void toolkitOptionsAreSetAside();
    void usageErrorWithoutADisplay_data();
    void systemFolders_data();
    void systemFolders();
    void usageErrorWithoutADisplay();
};

void UnitsTest::twipsToPixels_data() {
    QTest::addColumn<double>("dpi");
    QTest::addColumn<double>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("an inch at 96") << 96.0 << 1440.0 << 96;
    QTest::newRow("slide step at 120 is one pixel") << 120.0 << 12.0 << 1;
    QTest::newRow("client width at 96") << 96.0 << 5088.0 << 339;   // 339.2
    QTest::newRow("button height at 96") << 96.0 << 252.0 << 17;    // 16.8
    QTest::newRow("wide client at 144") << 144.0 << 7128.0 << 713;  // 712.8
    QTest::newRow("no dpi is taken as 96") << 0.0 << 1440.0 << 96;
}

void UnitsTest::twipsToPixels() {
    QFETCH(double, dpi);
    QFETCH(double, twips);
    QFETCH(int, pixels);
    QCOMPARE(v2bsp::ui::Twips(dpi).pixels(twips), pixels);
}

void UnitsTest::touchingControlsTouch() {
    // 7.5 px each at 96 dpi: rounding each width alone would leave a gap.
    const v2bsp::ui::Twips twips(96);
    const QRect left = twips.rect(0, 0, 112.5, 100);
    const QRect right = twips.rect(112.5, 0, 112.5, 100);
    QCOMPARE(left.left() + left.width(), right.left());
}

void UnitsTest::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<StartRequest::Action>("action");
    QTest::addColumn<QString>("map");
    QTest::addColumn<bool>("textOnly");
    using A = StartRequest::Action;
    QTest::newRow("nothing") << QStringList{} << A::window << "" << false;
    QTest::newRow("a map") << QStringList{"/maps/a.map"} << A::window << "/maps/a.map" << false;
    QTest::newRow("version") << QStringList{"--version"} << A::version << "" << true;
    QTest::newRow("help after a map") << QStringList{"a.map", "--help"} << A::help << "" << true;
    QTest::newRow("map named like an option") << QStringList{"--", "--help"} << A::window << "--help" << false;
    QTest::newRow("map named -") << QStringList{"-"} << A::window << "-" << false;
    QTest::newRow("two maps") << QStringList{"a.map", "b.map"} << A::usageError << "" << false;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << A::usageError << "" << false;
    QTest::newRow("empty name") << QStringList{""} << A::usageError << "" << false;
}

void UnitsTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(StartRequest::Action, action);
    QFETCH(QString, map);
    QFETCH(bool, textOnly);
    std::vector<std::string> list;
    for (const QString& arg : args) list.push_back(arg.toStdString());
    const StartRequest request = v2bsp::ui::parseCommandLine(list);
    QCOMPARE(request.action, action);
    QCOMPARE(QString::fromStdString(request.map), map);
    QCOMPARE(request.error.empty(), action != StartRequest::Action::usageError);
    QCOMPARE(v2bsp::ui::wantsTextOnly(list), textOnly);
}

void UnitsTest::toolkitOptionsAreSetAside_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("none") << QStringList{"a.map"} << QStringList{"a.map"};
    QTest::newRow("platform and its value") << QStringList{"-platform", "xcb", "a.map"} << QStringList{"a.map"};
    QTest::newRow("value after =") << QStringList{"-style=fusion", "--bogus"} << QStringList{"--bogus"};
    QTest::newRow("a flag") << QStringList{"-reverse", "a.map"} << QStringList{"a.map"};
    QTest::newRow("not after --") << QStringList{"--", "-reverse"} << QStringList{"--", "-reverse"};
    QTest::newRow("not ours either") << QStringList{"--platform"} << QStringList{"--platform"};
}

void UnitsTest::toolkitOptionsAreSetAside() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, kept);
    std::vector<std::string> list;
    for (const QString& arg : args) list.push_back(arg.toStdString());
    QStringList got;
    for (const std::string& arg : v2bsp::ui::withoutToolkitOptions(list)) got << QString::fromStdString(arg);
    QCOMPARE(got, kept);
}

void UnitsTest::usageErrorWithoutADisplay_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "v2bsp: unknown option --bogus\n";
    QTest::newRow("two maps") << QStringList{"a.map", "b.map"} << "v2bsp: only one MAP can be opened\n";
    QTest::newRow("after a toolkit option")
        << QStringList{"-platform", "xcb", "--bogus"} << "v2bsp: unknown option --bogus\n";
}

// Started as from a console with no display: the toolkit is never started.
void UnitsTest::usageErrorWithoutADisplay() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(V2BSP_WINDOW_PROGRAM), args);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()),
             error + "Try 'v2bsp --help' for more information.\n");
    QVERIFY(program.readAllStandardOutput().isEmpty());
}

void UnitsTest::systemFolders_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("system");
    QTest::newRow("/usr/bin") << "/usr/bin" << true;
    QTest::newRow("/usr/local/bin") << "/usr/local/bin" << true;
    QTest::newRow("/bin") << "/bin" << true;
    QTest::newRow("/opt/v2bsp/bin") << "/opt/v2bsp/bin" << true;
    QTest::newRow("/usr/bin/../bin") << "/usr/bin/../bin" << true;
    QTest::newRow("a build tree") << "/work/v2bsp/build/src/ui" << false;
    QTest::newRow("a name that starts like one") << "/binaries/v2bsp" << false;
    QTest::newRow("home") << "/home/user/v2bsp" << false;
}

void UnitsTest::systemFolders() {
    QFETCH(QString, folder);
    QFETCH(bool, system);
    QCOMPARE(v2bsp::ui::isSystemFolder(folder.toStdString()), system);
}

QTEST_GUILESS_MAIN(UnitsTest)
#include "units_test.moc"
