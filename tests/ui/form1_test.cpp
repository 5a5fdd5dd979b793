// Form1 through its controls, its menu and its host operations, offscreen.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <cmath>

#include "scratchfolder.hpp"
#include "ui/form1.hpp"
#include "uitest.hpp"

using namespace uitest;

namespace {

// The core on its own, to compare the window's outcome with.
using v2bsp::fixtures::RecordingHost;

// The reasons the core gave for refusing a map.
QStringList reasonsOf(const RecordingHost& core) {
    QStringList reasons;
    for (const v2bsp::MapFailure& failure : core.failures) reasons << QString::fromStdString(failure.reason);
    return reasons;
}

// One window with answering dialogs and its output in a scratch folder.
struct Fixture {
    v2bsp::ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    fs::path maps = scratch.path() / "maps";
    std::vector<Notice> notices;
    ScriptedOpenBox* openbox = nullptr;
    CapturedMessages* messages = nullptr;
    Form1 form;

    explicit Fixture(QStringList answers = {}) {
        fs::create_directories(program);
        auto box = std::make_unique<ScriptedOpenBox>(std::move(answers));
        openbox = box.get();
        form.setOpenBox(std::move(box));
        auto presenter = std::make_unique<CapturedMessages>(notices);
        messages = presenter.get();
        form.setMessagePresenter(std::move(presenter));
        form.setOutputParent(qpath(program));
    }
    template <typename T>
    T* control(const char* name) {
        T* found = form.findChild<T*>(name);
        if (found == nullptr) qFatal("no control %s", name);
        return found;
    }
    QStringList logLines() {
        QStringList lines = control<QPlainTextEdit>("datalog")->toPlainText().split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
    QStringList tagList() {
        QStringList items;
        auto* list = control<QListWidget>("List1");
        for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
        return items;
    }
    void extract(const fs::path& map) {
        form.chooseMap(qpath(map));
        control<QPushButton>("Command1")->click();
    }
};

int tickUntilStopped(Form1& form, QTimer* timer, void (Form1::*tick)()) {
    int ticks = 0;
    while (timer->isActive() && ticks < 10000) {
        (form.*tick)();
        ++ticks;
    }
    return ticks;
}

int pixels(double twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440));
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void startState();
    void captionsFit_data();
    void captionsFit();
    void fileOpen_data();
    void fileOpen();
    void openDialogShowsMapsOfAnyCase();
    void aboutSaysWhatTheProgramIs();
    void exitCloses();
    void exitDuringARunEndsItFirst();
    void tabLeavesTheLog();
    void missingMapIsRefusedAtOnce_data();
    void missingMapIsRefusedAtOnce();
    void tagNamesHaveTooltips();
    void logline_data();
    void logline();
    void loglineKeepsTheNewestLineInView();
    void extractWritesTheMeshesAndLog();
    void secondExtractionAppends();
    void outputFolder_data();
    void outputFolder();
    void defaultOutputParentIsTheProgramFolder();
    void invalidMapIsReported_data();
    void invalidMapIsReported();
    void notAMapBoxHasOneOkButton();
    void openIsRefusedDuringARun();
    void closingDuringARunStopsItCleanly();
    void slide_data();
    void slide();
    void clickDuringASlideReverses_data();
    void clickDuringASlideReverses();
    void droppedFileIsChosen_data();
    void droppedFileIsChosen();
};

// The offscreen platform warns on every change of a fixed window size, which
// the slide makes at every tick; that warning is dropped, all others kept.
QtMessageHandler testlogHandler = nullptr;

void Form1Test::initTestCase() {
    testlogHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!text.contains("does not support propagateSizeHints")) testlogHandler(type, context, text);
    });
}

void Form1Test::startState() {
    Fixture f;
    QCOMPARE(f.form.windowTitle(), QString("Vorun2 BSP Extracter"));
    QVERIFY(!f.control<QPushButton>("Command1")->isEnabled());
    QCOMPARE(f.control<QPushButton>("Command1")->text(), QString("Extract"));
    QVERIFY(f.control<QPushButton>("cmdright")->isEnabled());
    QCOMPARE(f.control<QPushButton>("cmdright")->text(), QString(">"));
    QVERIFY(f.control<QPlainTextEdit>("datalog")->toPlainText().isEmpty());
    QCOMPARE(f.control<QLineEdit>("Txt1")->text(), QString("0"));
    QVERIFY(f.control<QLineEdit>("Txt1")->isHidden());
    QCOMPARE(f.control<QListWidget>("List1")->count(), 0);
    QVERIFY(f.form.mappath().isEmpty());
    QCOMPARE(f.form.outerWidth(), 5184.0);
    QVERIFY(!f.form.windowIcon().isNull());

    // List1 lies wholly right of the client area, out of view until the slide.
    f.form.show();
    QVERIFY(f.control<QListWidget>("List1")->geometry().left() >= f.form.centralWidget()->width());
    QCOMPARE(f.form.centralWidget()->width(), pixels(5088, f.form.logicalDpiX()));
    QCOMPARE(f.form.centralWidget()->height(), pixels(1848, f.form.logicalDpiY()));
    QCOMPARE(f.form.minimumSize(), f.form.maximumSize());  // the user cannot resize it

    for (const char* name : {"Timer1", "Timer2"}) {
        auto* timer = f.control<QTimer>(name);
        QVERIFY(!timer->isActive());
        QCOMPARE(timer->interval(), 1);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    }
    auto* file = f.control<QMenu>("mnufile");
    QCOMPARE(file->title(), QString("&File"));
    auto* view = f.control<QMenu>("mnuview");
    QCOMPARE(view->title(), QString("&View"));
    auto* help = f.control<QMenu>("mnuhelp");
    QCOMPARE(help->title(), QString("&Help"));
    QCOMPARE(f.form.menuBar()->actions(),
             (QList<QAction*>{file->menuAction(), view->menuAction(), help->menuAction()}));
    QCOMPARE(help->actions(), QList<QAction*>{f.control<QAction>("mnuabout")});
    QCOMPARE(f.control<QAction>("mnuabout")->text(), QString("About v2bsp"));
    QCOMPARE(view->actions(), QList<QAction*>{f.control<QAction>("mnu3dwindow")});
    QCOMPARE(f.control<QAction>("mnu3dwindow")->text(), QString("3D Window"));
    QVERIFY(f.control<QAction>("mnu3dwindow")->isChecked());
    QCOMPARE(file->actions(), (QList<QAction*>{f.control<QAction>("mnuopen"), f.control<QAction>("mnuexit")}));
    QCOMPARE(f.control<QAction>("mnuopen")->text(), QString("Open"));
    QCOMPARE(f.control<QAction>("mnuexit")->text(), QString("Exit"));
    QCOMPARE(f.control<QAction>("mnuopen")->shortcut(), QKeySequence("Ctrl+O"));
    QCOMPARE(f.control<QAction>("mnuexit")->shortcut(), QKeySequence("Ctrl+Q"));
    QVERIFY(!f.form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(f.form.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    // Tab order: datalog, Command1, cmdright, List1, Txt1 (the chain also
    // holds the controls' own inner widgets, which are skipped here).
    const QStringList controls{"datalog", "Command1", "cmdright", "List1", "Txt1"};
    QStringList order;
    QWidget* chain = f.control<QWidget>("datalog");
    do {
        if (controls.contains(chain->objectName()) && !order.contains(chain->objectName())) {
            order << chain->objectName();
        }
        chain = chain->nextInFocusChain();
    } while (chain != f.control<QWidget>("datalog"));
    QCOMPARE(order, controls);
}

void Form1Test::captionsFit_data() {
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSizeF>("twips");  // the button's size
    for (const double dpi : {96.0, 120.0}) {
        const QByteArray at = QByteArray::number(dpi) + " dpi";
        QTest::newRow("Extract at " + at) << dpi << "Extract" << QSizeF(2292, 252);
        QTest::newRow("> at " + at) << dpi << ">" << QSizeF(252, 1332);
        QTest::newRow("< at " + at) << dpi << "<" << QSizeF(252, 1332);
    }
}

void Form1Test::captionsFit() {
    QFETCH(double, dpi);
    QFETCH(QString, caption);
    QFETCH(QSizeF, twips);
    Fixture f;
    QFont font = f.form.font();
    font.setPixelSize(static_cast<int>(std::lround(font.pointSizeF() * dpi / 72)));
    const QFontMetrics metrics(font);
    const int frame = 2;  // each side of the button's bevel
    QVERIFY2(metrics.height() + 2 * frame <= pixels(twips.height(), dpi),
             qPrintable(QStringLiteral("text height %1 px").arg(metrics.height())));
    QVERIFY(metrics.horizontalAdvance(caption) + 2 * frame <= pixels(twips.width(), dpi));
}

void Form1Test::fileOpen_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("mappath");
    QTest::newRow("a choice") << QStringList{"/maps/a.map"} << "/maps/a.map";
    QTest::newRow("a cancel") << QStringList{""} << "";
    QTest::newRow("twice: the second replaces the first") << QStringList{"/maps/a.map", "/maps/b.MAP"} << "/maps/b.MAP";
    QTest::newRow("a choice, then a cancel") << QStringList{"/maps/a.map", ""} << "";
}

void Form1Test::fileOpen() {
    QFETCH(QStringList, answers);
    QFETCH(QString, mappath);
    Fixture f(answers);
    for (qsizetype i = 0; i < answers.size(); ++i) f.control<QAction>("mnuopen")->trigger();
    QCOMPARE(f.openbox->shown, answers.size());
    QCOMPARE(f.openbox->namesset, QStringList(answers.size(), QString()));
    QCOMPARE(f.openbox->filters, QStringList(answers.size(), "Vorun 2 Map File (*.Map);;All files (*)"));
    QCOMPARE(f.form.mappath(), mappath);
    QVERIFY(f.control<QPushButton>("Command1")->isEnabled());  // after a cancel too
}

void Form1Test::openDialogShowsMapsOfAnyCase() {
    v2bsp::ScratchFolder scratch;
    for (const char* name : {"a.Map", "b.map", "c.MAP", "d.txt", "e.mapx", "map"}) {
        std::ofstream(scratch.path() / name) << "x";
    }
    const auto dialog = v2bsp::ui::makeOpenDialog(nullptr, QString(), "Vorun 2 Map File (*.Map);;All files (*)");
    QCOMPARE(dialog->nameFilters(), (QStringList{"Vorun 2 Map File (*.Map)", "All files (*)"}));
    dialog->setDirectory(qpath(scratch.path()));
    auto* model = dialog->findChild<QFileSystemModel*>();
    QVERIFY(model != nullptr);
    const QModelIndex folder = model->index(qpath(scratch.path()));
    const auto shown = [&] {
        QStringList names;
        for (int row = 0; row < model->rowCount(folder); ++row) names << model->index(row, 0, folder).data().toString();
        names.sort();
        return names;
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(), (QStringList{"a.Map", "b.map", "c.MAP"}), kPatience);
}

void Form1Test::aboutSaysWhatTheProgramIs() {
    Fixture f;
    f.control<QAction>("mnuabout")->trigger();
    QCOMPARE(f.messages->abouts.size(), std::size_t{1});
    QCOMPARE(f.messages->abouts[0].text, QString("About v2bsp"));
    const QString about = f.messages->abouts[0].reason;
    for (const char* part :
         {"v2bsp 1.00", "Wavefront OBJ", "<program folder>/<map name>/mesh<N>.obj", "Licence: MIT"}) {
        QVERIFY2(about.contains(part), part);
    }
}

void Form1Test::exitCloses() {
    Fixture f({"/maps/a.map"});
    f.form.show();
    f.control<QAction>("mnuopen")->trigger();
    f.control<QAction>("mnuexit")->trigger();
    QVERIFY(!f.form.isVisible());
}

// Exit during a run is a close: the run ends at its next log line, then the window goes.
void Form1Test::exitDuringARunEndsItFirst() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "many.map", smallMap("many", 40, {}));
    RefusingFiles files;
    files.afterwrite = [&](int written) {
        if (written == 3) f.control<QAction>("mnuexit")->trigger();
    };
    f.form.setOutputFiles(&files);
    f.form.show();
    f.extract(map);
    QCOMPARE(f.form.lastResult().status, v2bsp::ExtractStatus::stopped);
    QVERIFY(!f.form.isVisible());
    QCOMPARE(f.logLines().last(), QString("Making Mesh #3"));
    QVERIFY(f.form.view3d() == nullptr || !f.form.view3d()->isVisible());
}

void Form1Test::tabLeavesTheLog() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "a.map", smallMap("a", 1, {}));
    f.form.chooseMap(qpath(map));
    f.form.show();
    QApplication::setActiveWindow(&f.form);
    auto* log = f.control<QPlainTextEdit>("datalog");
    log->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(log->hasFocus(), kPatience);
    QTest::keyClick(log, Qt::Key_Tab);
    QVERIFY(log->toPlainText().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(f.control<QPushButton>("Command1")->hasFocus(), kPatience);
}

void Form1Test::missingMapIsRefusedAtOnce_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");  // {M}: the path
    QTest::newRow("missing") << "missing"
                             << "Cannot open {M}: No such file or directory.";
    QTest::newRow("a folder") << "folder"
                              << "The path {M} names a folder, not a map file.";
    QTest::newRow("a device") << "device"
                              << "The path {M} does not name a regular file.";
}

void Form1Test::missingMapIsRefusedAtOnce() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    Fixture f;
    fs::create_directories(f.maps);
    const QString path = kind == "missing"  ? qpath(f.maps / "missing.map")
                         : kind == "folder" ? qpath(f.maps)
                                            : QString("/dev/null");
    f.form.chooseMap(path);
    QCOMPARE(f.notices.size(), size_t{1});
    QCOMPARE(f.notices[0].text, QString("This is not a valid Vorun 2 map file"));
    QCOMPARE(f.notices[0].reason, QString(reason).replace("{M}", path));
    QCOMPARE(f.logLines(), QStringList{"This is not a valid Vorun 2 map file: " + f.notices[0].reason});
    QVERIFY(!f.control<QPushButton>("Command1")->isEnabled());
    // The core says the same of that path.
    RecordingHost core;
    v2bsp::extractmap(path.toStdString(), core, {});
    QCOMPARE(reasonsOf(core), QStringList{f.notices[0].reason});
}

void Form1Test::tagNamesHaveTooltips() {
    Fixture f;
    const std::string longname = "levels\\a rather long folder name\\and a longer tag name inside it";
    f.extract(writeMap(f.maps / "tags.map", smallMap("tags", 1, {"short", longname})));
    auto* list = f.control<QListWidget>("List1");
    QVERIFY(list->count() >= 2);
    for (int i = 0; i < list->count(); ++i) QCOMPARE(list->item(i)->toolTip(), list->item(i)->text());
}

void Form1Test::logline_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("shown");  // the log's text, one \n per line break
    QTest::newRow("first line") << "" << QStringList{"Loading Map..."} << "Loading Map...\n";
    QTest::newRow("two lines") << "" << QStringList{"a", "b"} << "a\nb\n";
    QTest::newRow("empty text adds an empty line") << "" << QStringList{"", "x"} << "\nx\n";
    QTest::newRow("CR LF inside the text") << "" << QStringList{"one\r\ntwo"} << "one\ntwo\n";
    QTest::newRow("typed text stays") << "typed by the user" << QStringList{"Loading Map..."}
                                      << "typed by the userLoading Map...\n";
    QTest::newRow("non-ASCII text") << "" << QStringList{"Dépôt"} << "Dépôt\n";
}

void Form1Test::logline() {
    QFETCH(QString, typed);
    QFETCH(QStringList, lines);
    QFETCH(QString, shown);
    Fixture f;
    auto* datalog = f.control<QPlainTextEdit>("datalog");
    datalog->setPlainText(typed);
    QTextCursor start = datalog->textCursor();
    start.movePosition(QTextCursor::Start);
    datalog->setTextCursor(start);  // where the user left the caret
    for (const QString& line : lines) f.form.logline(line.toStdString());
    QCOMPARE(datalog->toPlainText(), shown);
    QVERIFY(datalog->textCursor().atEnd());
    QVERIFY(!datalog->textCursor().hasSelection());
}

void Form1Test::loglineKeepsTheNewestLineInView() {
    Fixture f;
    f.form.show();
    auto* datalog = f.control<QPlainTextEdit>("datalog");
    for (int i = 0; i < 200; ++i) f.form.logline("line " + std::to_string(i));
    f.form.announce3dwindow();
    QApplication::processEvents();
    QCOMPARE(f.logLines().last(), QString("Initializing 3D Window..."));
    QVERIFY(datalog->verticalScrollBar()->value() > 0);
    QTextCursor lastLine = datalog->textCursor();
    lastLine.movePosition(QTextCursor::PreviousBlock);
    for (const QRect& line : {datalog->cursorRect(lastLine), datalog->cursorRect()}) {
        QVERIFY2(datalog->viewport()->rect().contains(line), "newest line out of view");
    }
}

void Form1Test::extractWritesTheMeshesAndLog() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "first.map", smallMap("first", 3, {"weapons\\rifle", "ui\\hud"}));
    f.form.show();
    f.extract(map);

    QCOMPARE(f.logLines(), windowLog(3, qpath(f.program / "first")));
    QCOMPARE(f.tagList(), (QStringList{"levels\\scenario", "levels\\scenario bsp", "weapons\\rifle", "ui\\hud"}));
    QCOMPARE(f.form.lastResult().status, v2bsp::ExtractStatus::complete);
    QVERIFY(!f.control<QPushButton>("Command1")->isEnabled());  // until the next File > Open
    QVERIFY(f.control<QAction>("mnuopen")->isEnabled());
    QVERIFY(f.notices.empty());

    // The window hands the core the path and the program folder unchanged:
    // the files are those the core writes on its own.
    RecordingHost core;
    v2bsp::ExtractSettings settings;
    settings.outputParent = f.scratch.path() / "reference";
    fs::create_directories(settings.outputParent);
    v2bsp::extractmap(map.string(), core, settings);
    QCOMPARE(listing(f.program / "first"), (QStringList{"mesh0.obj", "mesh1.obj", "mesh2.obj"}));
    for (const char* mesh : {"mesh0.obj", "mesh1.obj", "mesh2.obj"}) {
        QCOMPARE(v2bsp::readFile(f.program / "first" / mesh), v2bsp::readFile(settings.outputParent / "first" / mesh));
    }
}

void Form1Test::secondExtractionAppends() {
    Fixture f;
    const fs::path first = writeMap(f.maps / "first.map", smallMap("first", 2, {"a"}));
    const fs::path second = writeMap(f.maps / "second.map", smallMap("second", 1, {"b", "c"}));
    f.extract(first);
    f.extract(second);
    QCOMPARE(f.logLines(), windowLog(2, qpath(f.program / "first")) + windowLog(1, qpath(f.program / "second")));
    QCOMPARE(f.tagList(), (QStringList{"levels\\scenario", "levels\\scenario bsp", "a", "levels\\scenario",
                                       "levels\\scenario bsp", "b", "c"}));
    QCOMPARE(listing(f.program), (QStringList{"first", "second"}));
}

// The log's lines after "Creating BSP..." and its last line, and the 3D
// window's account of what is missing; %1 is the program folder, %2 the maps'.
void Form1Test::outputFolder_data() {
    QTest::addColumn<QStringList>("refused");  // under the program folder (%1) or the maps' (%2)
    QTest::addColumn<QStringList>("folderLines");
    QTest::addColumn<QString>("written");  // the folder that gets the files, or empty
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("missing");  // of the 3D window's status line
    QTest::newRow("program folder writable") << QStringList{} << QStringList{} << "%1/room"
                                             << "Wrote 2 mesh files to %1/room"
                                             << "";
    QTest::newRow("program folder not writable")
        << QStringList{"%1"} << QStringList{"Program folder is not writable; writing to %2/room"} << "%2/room"
        << "Wrote 2 mesh files to %2/room"
        << "";
    QTest::newRow("neither writable: every mesh counted")
        << QStringList{"%1", "%2"}
        << QStringList{"Program folder is not writable; writing to %2/room",
                       "Could not create folder %2/room: Permission denied"}
        << ""
        << "Wrote no mesh file; the lines above say why"
        << "; no folder was written. Incomplete: 2 mesh files not written: see the log for why";
    QTest::newRow("one mesh file refused") << QStringList{"%1/room/mesh1.obj"} << QStringList{} << "%1/room"
                                           << "Wrote 1 of 2 mesh files to %1/room; the lines above say what is missing"
                                           << ". Incomplete: 1 mesh file not written: see the log for why";
}

void Form1Test::outputFolder() {
    QFETCH(QStringList, refused);
    QFETCH(QStringList, folderLines);
    QFETCH(QString, written);
    QFETCH(QString, lastLine);
    QFETCH(QString, missing);
    Fixture f;
    const auto resolve = [&](QString text) {
        return text.replace("%1", qpath(f.program)).replace("%2", qpath(f.maps));
    };
    RefusingFiles files;
    for (const QString& path : refused) files.refused.push_back(resolve(path).toStdString());
    f.form.setOutputFiles(&files);
    const fs::path map = writeMap(f.maps / "room.map", smallMap("room", 2, {}));
    f.extract(map);

    QStringList expected = completeLog(2);
    for (qsizetype i = 0; i < folderLines.size(); ++i) {
        expected.insert(expected.indexOf("Creating BSP...") + 1 + i, resolve(folderLines[i]));
    }
    if (refused.size() == 1 && refused[0].endsWith(".obj")) {
        expected.insert(expected.indexOf("Making Mesh #1") + 1,
                        "Could not write " + resolve(refused[0]) + ": Permission denied");
    }
    expected << resolve(lastLine);
    QCOMPARE(f.logLines(), expected);
    QVERIFY(f.form.view3d()->statusLine().endsWith(resolve(missing)));
    QCOMPARE(f.form.view3d()->statusLine().contains("Incomplete"), !missing.isEmpty());
    if (written.isEmpty()) {
        QCOMPARE(f.form.lastResult().status, v2bsp::ExtractStatus::incomplete);
        QVERIFY(listing(f.program).isEmpty());
    } else {
        QCOMPARE(listing(resolve(written).toStdString()).size(), 2 - (missing.isEmpty() ? 0 : 1));
    }
}

void Form1Test::defaultOutputParentIsTheProgramFolder() {
    v2bsp::ScratchFolder scratch;
    const std::string name = "v2bsp-ui-test-" + std::to_string(QCoreApplication::applicationPid());
    const fs::path map = writeMap(scratch.path() / "default.map", smallMap(name, 1, {}));
    const fs::path expected = QCoreApplication::applicationDirPath().toStdString() + "/" + name;
    Form1 form;
    form.chooseMap(qpath(map));
    form.findChild<QPushButton*>("Command1")->click();
    const QStringList written = listing(expected);
    fs::remove_all(expected);
    QCOMPARE(written, QStringList{"mesh0.obj"});
}

void Form1Test::invalidMapIsReported_data() {
    QTest::addColumn<QByteArray>("bytes");  // empty: no file (File > Open was cancelled)
    QTest::newRow("no file chosen") << QByteArray();
    QTest::newRow("text file") << QByteArray("not a map at all, just a few words\n");
    const mb::BuiltMap built = mb::buildMap(smallMap("cut", 1, {}));
    QTest::newRow("map cut after its header") << QByteArray(reinterpret_cast<const char*>(built.bytes.data()), 2100);
    mb::BuiltMap noscenario = built;
    mb::corruptionCase(mb::Corruption::NoScenarioRow).apply(noscenario);
    QTest::newRow("no scenario") << QByteArray(reinterpret_cast<const char*>(noscenario.bytes.data()),
                                               static_cast<qsizetype>(noscenario.bytes.size()));
}

void Form1Test::invalidMapIsReported() {
    QFETCH(QByteArray, bytes);
    Fixture f({""});
    QStringList logBehindTheBox;
    f.messages->onnotice = [&] { logBehindTheBox = f.logLines(); };
    QString path;
    if (!bytes.isEmpty()) {
        fs::create_directories(f.maps);
        path = qpath(f.maps / "bad.map");
        std::ofstream(path.toStdString(), std::ios::binary).write(bytes.constData(), bytes.size());
        f.form.chooseMap(path);
    } else {
        f.control<QAction>("mnuopen")->trigger();
    }
    f.control<QPushButton>("Command1")->click();

    RecordingHost core;
    v2bsp::extractmap(path.toStdString(), core, {});
    const QStringList reasons = reasonsOf(core);
    QCOMPARE(reasons.size(), 1);
    QCOMPARE(f.notices.size(), size_t{1});
    QCOMPARE(f.notices[0].text, QString("This is not a valid Vorun 2 map file"));
    QCOMPARE(f.notices[0].reason, reasons[0]);
    // Once the box is gone, the log keeps its reason.
    QCOMPARE(f.logLines(), qtList(core.log) << "This is not a valid Vorun 2 map file: " + reasons[0]);
    QCOMPARE(logBehindTheBox, qtList(core.log));  // the log is up to date when the box shows
    QCOMPARE(f.form.lastResult().status, v2bsp::ExtractStatus::failed);
    QVERIFY(listing(f.program).isEmpty());
    QVERIFY(!f.control<QPushButton>("Command1")->isEnabled());
}

void Form1Test::notAMapBoxHasOneOkButton() {
    const auto box = v2bsp::ui::makeNotAMapBox(nullptr, "This is not a valid Vorun 2 map file",
                                               "Index offset at offset 16 lies outside the file (length 10).");
    QCOMPARE(box->text(), QString("This is not a valid Vorun 2 map file"));
    QCOMPARE(box->informativeText(), QString("Index offset at offset 16 lies outside the file (length 10)."));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
}

// During a run, File > Open is disabled, so a second run cannot start inside the first.
void Form1Test::openIsRefusedDuringARun() {
    Fixture f({"/maps/other.map"});
    const fs::path map = writeMap(f.maps / "first.map", smallMap("first", 2, {}));
    bool openEnabled = true, extractEnabled = true, ranInside = false;
    QStringList logInside;
    QTimer::singleShot(0, &f.form, [&] {
        ranInside = f.form.running();
        logInside = f.logLines();
        openEnabled = f.control<QAction>("mnuopen")->isEnabled();
        extractEnabled = f.control<QPushButton>("Command1")->isEnabled();
        f.control<QAction>("mnuopen")->trigger();
        f.form.chooseMap("/maps/dropped.map");
    });
    f.form.show();
    f.extract(map);
    QVERIFY(ranInside);
    QCOMPARE(logInside, QStringList{"Loading Map..."});  // lines show while the run goes on
    QVERIFY(!openEnabled);
    QVERIFY(!extractEnabled);
    QCOMPARE(f.openbox->shown, 0);
    QCOMPARE(f.form.mappath(), qpath(map));
    QCOMPARE(f.logLines(), windowLog(2, qpath(f.program / "first")));
    QVERIFY(f.control<QAction>("mnuopen")->isEnabled());
}

// Closing the window during a run ends the run at its next log line; every
// file written is whole, and then the window closes.
void Form1Test::closingDuringARunStopsItCleanly() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "many.map", smallMap("many", 40, {}));
    RefusingFiles files;
    files.afterwrite = [&](int written) {
        if (written == 5) f.form.close();
    };
    f.form.setOutputFiles(&files);
    // The run starts inside the event loop, as a click would start it, so the
    // loop must end by itself once the window has closed.
    f.form.show();
    QTimer::singleShot(0, &f.form, [&] { f.extract(map); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(kPatience);
    QCOMPARE(QApplication::exec(), 0);

    QCOMPARE(f.form.lastResult().status, v2bsp::ExtractStatus::stopped);
    QVERIFY(!f.form.isVisible());
    QCOMPARE(f.logLines().last(), QString("Making Mesh #5"));
    QCOMPARE(listing(f.program / "many"),
             (QStringList{"mesh0.obj", "mesh1.obj", "mesh2.obj", "mesh3.obj", "mesh4.obj"}));
    RecordingHost core;
    v2bsp::ExtractSettings settings;
    settings.outputParent = f.scratch.path();
    v2bsp::extractmap(map.string(), core, settings);
    for (int m = 0; m < 5; ++m) {
        const std::string name = "mesh" + std::to_string(m) + ".obj";
        QCOMPARE(v2bsp::readFile(f.program / "many" / name), v2bsp::readFile(f.scratch.path() / "many" / name));
    }
}

void Form1Test::slide_data() {
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("ticks");  // of the last slide
    QTest::addColumn<double>("width");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("state");
    QTest::newRow("first widening") << 1 << 170 << 7224.0 << "<"
                                    << "1";
    QTest::newRow("narrowing after it") << 2 << 171 << 5172.0 << ">"
                                        << "0";
    QTest::newRow("widening from then on") << 3 << 171 << 7224.0 << "<"
                                           << "1";
    QTest::newRow("narrowing from then on") << 4 << 171 << 5172.0 << ">"
                                            << "0";
}

void Form1Test::slide() {
    QFETCH(int, clicks);
    QFETCH(int, ticks);
    QFETCH(double, width);
    QFETCH(QString, caption);
    QFETCH(QString, state);
    Fixture f;
    f.form.show();
    auto* timer1 = f.control<QTimer>("Timer1");
    auto* timer2 = f.control<QTimer>("Timer2");
    int last = 0;
    for (int click = 1; click <= clicks; ++click) {
        f.control<QPushButton>("cmdright")->click();
        const bool widening = click % 2 == 1;
        QCOMPARE(timer1->isActive(), widening);
        QCOMPARE(timer2->isActive(), !widening);
        last = widening ? tickUntilStopped(f.form, timer1, &Form1::Timer1_Timer)
                        : tickUntilStopped(f.form, timer2, &Form1::Timer2_Timer);
    }
    QCOMPARE(last, ticks);
    QCOMPARE(f.form.outerWidth(), width);
    QVERIFY(!timer1->isActive() && !timer2->isActive());
    QCOMPARE(f.control<QPushButton>("cmdright")->text(), caption);
    QCOMPARE(f.control<QLineEdit>("Txt1")->text(), state);
    QCOMPARE(f.form.width(), pixels(width - 96, f.form.logicalDpiX()));
    const bool listInView = f.control<QListWidget>("List1")->geometry().right() < f.form.centralWidget()->width();
    QCOMPARE(listInView, state == "1");
}

void Form1Test::clickDuringASlideReverses_data() {
    QTest::addColumn<int>("fullSlides");   // completed before the interrupted one
    QTest::addColumn<int>("ticksBefore");  // of the interrupted slide
    QTest::addColumn<int>("ticksAfter");   // of the reversed slide
    QTest::addColumn<double>("width");
    QTest::newRow("widening reversed after 50 ticks") << 0 << 50 << 51 << 5172.0;
    QTest::newRow("widening reversed at its first tick") << 0 << 1 << 2 << 5172.0;
    QTest::newRow("narrowing reversed after 20 ticks") << 1 << 20 << 20 << 7224.0;
    QTest::newRow("widening from 5172 reversed after 100 ticks") << 2 << 100 << 100 << 5172.0;
}

void Form1Test::clickDuringASlideReverses() {
    QFETCH(int, fullSlides);
    QFETCH(int, ticksBefore);
    QFETCH(int, ticksAfter);
    QFETCH(double, width);
    Fixture f;
    auto* cmdright = f.control<QPushButton>("cmdright");
    auto* timer1 = f.control<QTimer>("Timer1");
    auto* timer2 = f.control<QTimer>("Timer2");
    const auto tickOnce = [&] {
        if (timer1->isActive()) f.form.Timer1_Timer();
        if (timer2->isActive()) f.form.Timer2_Timer();
    };
    for (int slide = 0; slide < fullSlides; ++slide) {
        cmdright->click();
        while (timer1->isActive() || timer2->isActive()) tickOnce();
    }
    cmdright->click();
    for (int tick = 0; tick < ticksBefore; ++tick) tickOnce();
    const QString before = f.control<QLineEdit>("Txt1")->text();
    cmdright->click();
    QVERIFY(timer1->isActive() != timer2->isActive());  // never both
    QCOMPARE(f.control<QLineEdit>("Txt1")->text(), QString(before == "1" ? "0" : "1"));
    int ticks = 0;
    while ((timer1->isActive() || timer2->isActive()) && ticks < 1000) {
        tickOnce();
        ++ticks;
    }
    QCOMPARE(ticks, ticksAfter);
    QCOMPARE(f.form.outerWidth(), width);
}

void Form1Test::droppedFileIsChosen_data() {
    QTest::addColumn<QUrl>("url");  // a local file's path is taken inside the fixture's maps folder
    QTest::addColumn<bool>("chosen");
    QTest::newRow("local map") << QUrl::fromLocalFile("/Dropped.MAP") << true;
    QTest::newRow("web address") << QUrl("https://example.invalid/a.map") << false;
}

void Form1Test::droppedFileIsChosen() {
    QFETCH(QUrl, url);
    QFETCH(bool, chosen);
    Fixture f;
    if (url.isLocalFile())
        url = QUrl::fromLocalFile(
            qpath(writeMap(f.maps / url.toLocalFile().mid(1).toStdString(), smallMap("dropped", 1, {}))));
    QMimeData mime;
    mime.setUrls({url});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f.form, &enter);
    QCOMPARE(enter.isAccepted(), chosen);
    if (chosen) {
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.form, &drop);
    }
    QCOMPARE(f.form.mappath(), chosen ? url.toLocalFile() : QString());
    QCOMPARE(f.control<QPushButton>("Command1")->isEnabled(), chosen);
}

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
