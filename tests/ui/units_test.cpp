// The window program's command line, and its small pieces.
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <map>

#include "app/framing.hpp"
#include "app/placement.hpp"
#include "icondrawing.hpp"
#include "ui/appicon.hpp"
#include "ui/commandline.hpp"

using v2bsp::ui::StartRequest;
Q_DECLARE_METATYPE(StartRequest::Action)
Q_DECLARE_METATYPE(v2bsp::app::Rect)

namespace {

// How long, in milliseconds, a test waits for the window program to end
// before calling it hung; minutes, so that a busy machine never reaches it.
constexpr int kPatience = 2 * 60 * 1000;

QRect qrect(const v2bsp::app::Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

// The environment canOpenWindow reads, for one row.
std::map<std::string, std::string> environment;
const char* fromEnvironment(const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
}

}  // namespace

class UnitsTest : public QObject {
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void toolkitOptionsAreSetAside_data();
    void toolkitOptionsAreSetAside();
    void usageErrorWithoutADisplay_data();
    void usageErrorWithoutADisplay();
    void canOpenWindow_data();
    void canOpenWindow();
    void noDisplayIsSaidAndEndsWithStatus1_data();
    void noDisplayIsSaidAndEndsWithStatus1();
    void viewPlacement_data();
    void viewPlacement();
    void listWidth_data();
    void listWidth();
    void coarseTrianglesComeFirst_data();
    void coarseTrianglesComeFirst();
    void windowsIconIsTheWindowsPicture_data();
    void windowsIconIsTheWindowsPicture();
};

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
    QVERIFY(program.waitForFinished(kPatience));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()),
             error + "Try 'v2bsp --help' for more information.\n");
    QVERIFY(program.readAllStandardOutput().isEmpty());
}

void UnitsTest::canOpenWindow_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");  // NAME=VALUE
    QTest::addColumn<bool>("can");
    QTest::newRow("nothing set") << QStringList{} << QStringList{} << false;
    QTest::newRow("an X display") << QStringList{} << QStringList{"DISPLAY=:0"} << true;
    QTest::newRow("xcb without X") << QStringList{} << QStringList{"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=w"} << false;
    QTest::newRow("xcb with -display") << QStringList{"-display", ":1"} << QStringList{"QT_QPA_PLATFORM=xcb"} << true;
    QTest::newRow("offscreen needs none") << QStringList{} << QStringList{"QT_QPA_PLATFORM=offscreen"} << true;
    QTest::newRow("-platform over the variable")
        << QStringList{"-platform", "offscreen"} << QStringList{"QT_QPA_PLATFORM=xcb"} << true;
    QTest::newRow("not after --") << QStringList{"--", "-platform", "offscreen"} << QStringList{} << false;
}

void UnitsTest::canOpenWindow() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    QFETCH(bool, can);
    environment.clear();
    for (const QString& pair : env)
        environment[pair.section('=', 0, 0).toStdString()] = pair.section('=', 1).toStdString();
    std::vector<std::string> list;
    for (const QString& arg : args) list.push_back(arg.toStdString());
    QCOMPARE(v2bsp::ui::canOpenWindow(list, fromEnvironment), can);
}

void UnitsTest::noDisplayIsSaidAndEndsWithStatus1_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no map") << QStringList{};
    QTest::newRow("a map") << QStringList{"some.map"};
}

// Started from a console with no display at all: a sentence, not the toolkit's abort.
void UnitsTest::noDisplayIsSaidAndEndsWithStatus1() {
    QFETCH(QStringList, args);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("DISPLAY", "");
    environment.insert("WAYLAND_DISPLAY", "");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(V2BSP_WINDOW_PROGRAM), args);
    QVERIFY(program.waitForFinished(kPatience));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()),
             QString("v2bsp: cannot open a window: no display; v2bsp-extract extracts without one\n"));
}

// Frame rectangles; at scale 1 the 3D window would like 976 x 639 with its
// frame, and stands 8 apart. Form1 at 96 dpi is about 346 x 180, and its
// slide, open, makes it 136 wider (`opens`; 0 where it is open already).
void UnitsTest::viewPlacement_data() {
    using R = v2bsp::app::Rect;
    QTest::addColumn<R>("available");
    QTest::addColumn<R>("form");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("scale");
    QTest::addColumn<R>("expected");
    const R desktop{0, 0, 1920, 1040};
    QTest::newRow("right of the window") << desktop << R{100, 100, 480, 200} << 0 << 1 << R{588, 100, 1280, 693};
    QTest::newRow("left where the right has no room")
        << desktop << R{1400, 100, 480, 200} << 0 << 1 << R{112, 100, 1280, 693};
    QTest::newRow("raised to keep its bottom on the screen")
        << desktop << R{100, 900, 480, 140} << 0 << 1 << R{588, 347, 1280, 693};
    QTest::newRow("below a panel at the top")
        << R{64, 32, 1856, 1008} << R{70, 0, 480, 200} << 0 << 1 << R{558, 32, 1237, 672};
    QTest::newRow("small screen: centred, over part of the window")
        << R{0, 0, 800, 600} << R{0, 0, 470, 150} << 136 << 1 << R{80, 60, 640, 480};
    QTest::newRow("side room less than the view: centred")
        << R{0, 0, 1280, 800} << R{0, 0, 480, 700} << 0 << 1 << R{152, 80, 976, 639};
    QTest::newRow("no room anywhere") << R{0, 0, 800, 500} << R{165, 180, 470, 150} << 0 << 1 << R{80, 50, 640, 400};
    QTest::newRow("1600 x 1000, window centred: centred, two thirds")
        << R{0, 0, 1600, 1000} << R{627, 410, 346, 180} << 136 << 1 << R{266, 166, 1067, 667};
    QTest::newRow("1600 x 1000, window at the left edge: right of it open")
        << R{0, 0, 1600, 1000} << R{0, 100, 346, 180} << 136 << 1 << R{490, 100, 1067, 667};
    QTest::newRow("1600 x 1000, window on the left: below it, not right of it as it is")
        << R{0, 0, 1600, 1000} << R{150, 100, 346, 180} << 136 << 1 << R{150, 288, 1067, 667};
    // 3200 x 2000 at scale 2, in physical pixels: no side of the open window
    // holds the view, the right of the window as it is does.
    QTest::newRow("3200 x 2000 at scale 2: right of the window as it is")
        << R{0, 0, 3200, 2000} << R{300, 600, 692, 360} << 272 << 2 << R{1008, 600, 2133, 1333};
}

void UnitsTest::viewPlacement() {
    QFETCH(v2bsp::app::Rect, available);
    QFETCH(v2bsp::app::Rect, form);
    QFETCH(int, opens);
    QFETCH(int, scale);
    QFETCH(v2bsp::app::Rect, expected);
    const v2bsp::app::Rect widest{form.x, form.y, form.width + opens, form.height};
    const v2bsp::app::Rect at = v2bsp::app::placeView(available, {form, widest}, {976 * scale, 639 * scale}, 8 * scale);
    QCOMPARE(qrect(at), qrect(expected));
    QVERIFY(qrect(available).contains(qrect(at)));
    QVERIFY(at.width <= available.width * 0.8 && at.height <= available.height * 0.8);
    QVERIFY(at.width * 3 >= available.width * 2 - 3 && at.height * 3 >= available.height * 2 - 3);
}

// A window part `width` wide; the list's texts need `whole`, its numbers `numbers`.
void UnitsTest::listWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("whole");
    QTest::addColumn<int>("numbers");
    QTest::addColumn<int>("expected");
    QTest::newRow("room for every text") << 1000 << 300 << 200 << 300;
    QTest::newRow("long names give way to the view's half") << 800 << 600 << 250 << 400;
    QTest::newRow("odd width: the view's half rounds up") << 501 << 400 << 100 << 250;
    QTest::newRow("the numbers win over the view's half") << 400 << 300 << 260 << 260;
    QTest::newRow("narrower than the numbers: all of it") << 200 << 300 << 260 << 200;
    QTest::newRow("no width") << 0 << 300 << 260 << 0;
}

void UnitsTest::listWidth() {
    QFETCH(int, width);
    QFETCH(int, whole);
    QFETCH(int, numbers);
    QFETCH(int, expected);
    QCOMPARE(v2bsp::app::listWidth(width, {whole, numbers}), expected);
}

void UnitsTest::coarseTrianglesComeFirst_data() {
    QTest::addColumn<int>("indices");
    QTest::addColumn<int>("stride");
    QTest::addColumn<QList<int>>("order");  // of the triangles; -1 for an index that is no whole triangle's
    QTest::addColumn<int>("coarse");
    QTest::newRow("every second") << 15 << 2 << QList<int>{0, 2, 4, 1, 3} << 9;
    QTest::newRow("every third") << 21 << 3 << QList<int>{0, 3, 6, 1, 2, 4, 5} << 9;
    QTest::newRow("stride 1 keeps the order") << 9 << 1 << QList<int>{0, 1, 2} << 9;
    QTest::newRow("stride 0 is 1") << 6 << 0 << QList<int>{0, 1} << 6;
    QTest::newRow("stride past the count") << 9 << 8 << QList<int>{0, 1, 2} << 3;
    QTest::newRow("a part triangle stays last") << 8 << 2 << QList<int>{0, 1, -1} << 3;
    QTest::newRow("none") << 0 << 4 << QList<int>{} << 0;
}

void UnitsTest::coarseTrianglesComeFirst() {
    QFETCH(int, indices);
    QFETCH(int, stride);
    QFETCH(QList<int>, order);
    QFETCH(int, coarse);
    std::vector<std::uint16_t> data(static_cast<std::size_t>(indices));
    for (int i = 0; i < indices; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(100 + i);
    QCOMPARE(static_cast<int>(v2bsp::app::putCoarseFirst(data, static_cast<std::uint32_t>(stride))), coarse);
    std::vector<std::uint16_t> expected;
    for (const int t : order) {
        if (t < 0) {
            for (int i = indices / 3 * 3; i < indices; ++i) expected.push_back(static_cast<std::uint16_t>(100 + i));
            continue;
        }
        for (int k = 0; k < 3; ++k) expected.push_back(static_cast<std::uint16_t>(100 + t * 3 + k));
    }
    QCOMPARE(data, expected);
}

void UnitsTest::windowsIconIsTheWindowsPicture_data() {
    QTest::addColumn<int>("size");
    for (const int size : v2bsp::icon::kWindowsIconSizes) QTest::newRow(qPrintable(QString::number(size))) << size;
}

// The program file's icon, drawn without a toolkit, against the window's,
// pixel by pixel: the two may differ at an edge's antialiasing only.
void UnitsTest::windowsIconIsTheWindowsPicture() {
    QFETCH(int, size);
    const QImage window = v2bsp::ui::iconImage(size).convertToFormat(QImage::Format_RGBA8888);
    const std::vector<std::uint8_t> file = v2bsp::icon::drawIcon(size);
    QCOMPARE(file.size(), static_cast<std::size_t>(size) * size * 4);
    double total = 0;
    int far = 0;  // channels more than a quarter apart
    for (int y = 0; y < size; ++y) {
        const uchar* row = window.constScanLine(y);
        for (int x = 0; x < size * 4; ++x) {
            const int gap = std::abs(row[x] - file[static_cast<std::size_t>(y * size * 4 + x)]);
            total += gap;
            far += gap > 64 ? 1 : 0;
        }
    }
    const double mean = total / (size * size * 4);
    QVERIFY2(mean < 4, qPrintable(QString("mean difference %1").arg(mean)));
    QVERIFY2(far <= size, qPrintable(QString("%1 channels far apart").arg(far)));
}

QTEST_GUILESS_MAIN(UnitsTest)
#include "units_test.moc"
