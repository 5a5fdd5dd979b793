// The Qt Form1 as the host of Form1's behaviour, offscreen: its widgets and
// menus from the layout, every menu item and key reaching the behaviour,
// the dialogs' toolkit calls, and the wiring of the run, the slide's timers,
// focus, drops and closing. What the behaviour decides is tested once, in
// tests/app/form1_test.cpp.
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

#include "app/layout.hpp"
#include "scratchfolder.hpp"
#include "ui/appicon.hpp"
#include "ui/form1.hpp"
#include "ui/menus.hpp"
#include "uitest.hpp"

using namespace uitest;

namespace {

// One window with answering dialogs and its output in a scratch folder.
struct Fixture {
    v2bsp::ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    fs::path maps = scratch.path() / "maps";
    ScriptedOpenBox* openbox = nullptr;
    CapturedMessages* messages = nullptr;
    Form1 form;

    explicit Fixture(QStringList answers = {}) {
        fs::create_directories(program);
        std::vector<std::string> scripted;
        for (const QString& answer : answers) scripted.push_back(answer.toStdString());
        auto box = std::make_unique<ScriptedOpenBox>(std::move(scripted));
        openbox = box.get();
        form.setOpenBox(std::move(box));
        auto presenter = std::make_unique<CapturedMessages>();
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
    // Extract, then the window's own loop until the run has ended.
    void extract(const fs::path& map) {
        form.chooseMap(qpath(map));
        control<QPushButton>("Command1")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.running(), kPatience);
    }
};

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
    void everyMenuItemReachesTheBehaviour_data();
    void everyMenuItemReachesTheBehaviour();
    void menuRowsBecomeActions();
    void openBoxAsksTheToolkitDialog();
    void openDialogShowsMapsOfAnyCase();
    void notAMapBoxHasOneOkButton();
    void aboutBoxShowsTheProgramsIcon();
    void tabLeavesTheLog();
    void closedTagListIsNoTabStop();
    void tagNamesHaveTooltips();
    void logline_data();
    void logline();
    void loglineKeepsTheNewestLineInView();
    void extractReturnsAtOnce();
    void defaultOutputParentIsTheProgramFolder();
    void closingDuringARunStopsItCleanly();
    void slideTimersMoveTheWindow();
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

void Form1Test::openDialogShowsMapsOfAnyCase() {
    v2bsp::ScratchFolder scratch;
    for (const char* name : {"a.Map", "b.map", "c.MAP", "d.txt", "e.mapx", "map"}) {
        std::ofstream(scratch.path() / name) << "x";
    }
    const auto dialog = v2bsp::ui::makeOpenDialog(nullptr, QString(), v2bsp::app::mapFilters());
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
    for (const QString& line : lines) f.form.behaviour().logline(line.toStdString());
    QCOMPARE(datalog->toPlainText(), shown);
    QVERIFY(datalog->textCursor().atEnd());
    QVERIFY(!datalog->textCursor().hasSelection());
}

void Form1Test::loglineKeepsTheNewestLineInView() {
    Fixture f;
    f.form.show();
    auto* datalog = f.control<QPlainTextEdit>("datalog");
    for (int i = 0; i < 200; ++i) f.form.behaviour().logline("line " + std::to_string(i));
    f.form.behaviour().logline("Initializing 3D Window...");
    QApplication::processEvents();
    QCOMPARE(f.logLines().last(), QString("Initializing 3D Window..."));
    QVERIFY(datalog->verticalScrollBar()->value() > 0);
    QTextCursor lastLine = datalog->textCursor();
    lastLine.movePosition(QTextCursor::PreviousBlock);
    for (const QRect& line : {datalog->cursorRect(lastLine), datalog->cursorRect()}) {
        QVERIFY2(datalog->viewport()->rect().contains(line), "newest line out of view");
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
    QTRY_VERIFY_WITH_TIMEOUT(!form.running(), kPatience);
    const QStringList written = listing(expected);
    fs::remove_all(expected);
    QCOMPARE(written, QStringList{"mesh0.obj"});
}

void Form1Test::notAMapBoxHasOneOkButton() {
    const auto box = v2bsp::ui::makeNotAMapBox(nullptr, "This is not a valid Vorun 2 map file",
                                               "Index offset at offset 16 lies outside the file (length 10).");
    QCOMPARE(box->text(), QString("This is not a valid Vorun 2 map file"));
    QCOMPARE(box->informativeText(), QString("Index offset at offset 16 lies outside the file (length 10)."));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
}

// Closing the window during a run, from the run's thread through the
// window's: the run ends at its next log line, then the window closes and
// the program's loop ends by itself.
void Form1Test::closingDuringARunStopsItCleanly() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "many.map", smallMap("many", 40, {}));
    RefusingFiles files;
    files.afterwrite = [&](int written) {
        if (written != 5) return;
        QMetaObject::invokeMethod(
            &f.form, [&] { f.form.close(); }, Qt::BlockingQueuedConnection);
    };
    f.form.setOutputFiles(&files);
    // The run starts inside the event loop, as a click would start it, so the
    // loop must end by itself once the window has closed.
    f.form.show();
    QTimer::singleShot(0, &f.form, [&] {
        f.form.chooseMap(qpath(map));
        f.control<QPushButton>("Command1")->click();
    });
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
}

// Each item of the menu, triggered or by its shortcut, reaches the
// behaviour under its row's name: what the behaviour then does shows.
void Form1Test::everyMenuItemReachesTheBehaviour_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("byKey");
    int items = 0;
    for (const v2bsp::app::MenuItem& item : v2bsp::app::kForm1.menu) {
        if (item.parent.empty() || item.name == v2bsp::app::kSeparator) continue;
        ++items;
        const QString name = QString::fromUtf8(item.name.data(), static_cast<qsizetype>(item.name.size()));
        QTest::newRow(qPrintable(name)) << name << false;
        if (!item.shortcut.empty()) QTest::newRow(qPrintable(name + " by its key")) << name << true;
    }
    QCOMPARE(items, 4);  // the checks below know each
}

void Form1Test::everyMenuItemReachesTheBehaviour() {
    QFETCH(QString, item);
    QFETCH(bool, byKey);
    Fixture f({""});
    f.form.show();
    QApplication::setActiveWindow(&f.form);
    QVERIFY(QTest::qWaitForWindowActive(&f.form, kPatience));
    auto* action = f.control<QAction>(qPrintable(item));
    if (byKey) {
        const QKeySequence key = action->shortcut();
        QTest::keyClick(&f.form, key[0].key(), key[0].keyboardModifiers());
    } else {
        action->trigger();
    }
    if (item == "mnuopen") QCOMPARE(f.openbox->shown, 1);
    if (item == "mnuexit") QVERIFY(!f.form.isVisible());
    if (item == "mnu3dwindow") {
        QVERIFY(!f.form.behaviour().level3DChecked());
        QVERIFY(!action->isChecked());
    }
    if (item == "mnuabout") QCOMPARE(f.messages->abouts.size(), std::size_t{1});
}

// Every part of a row reaches its action: separators, second shortcuts,
// tooltips, check states (the 3D View's rows hold each).
void Form1Test::menuRowsBecomeActions() {
    QMenuBar bar;
    QStringList chosen;
    v2bsp::ui::addMenuRows(bar, v2bsp::app::kView3DMenu, [&](std::string_view name) {
        chosen << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    });
    auto* file = bar.findChild<QMenu*>("menufile");
    QVERIFY(file != nullptr);
    QCOMPARE(file->actions().size(), 5);
    QVERIFY(file->actions()[3]->isSeparator());
    auto* close = bar.findChild<QAction*>("close");
    QCOMPARE(close->shortcuts(), (QList<QKeySequence>{QKeySequence("Ctrl+W"), QKeySequence("Esc")}));
    auto* zUp = bar.findChild<QAction*>("zUp");
    QVERIFY(zUp->toolTip().startsWith("For maps that store Z up"));
    QVERIFY(bar.findChild<QMenu*>("menuview")->toolTipsVisible());
    QVERIFY(zUp->isCheckable() && !zUp->isChecked());
    bar.findChild<QAction*>("saveas")->trigger();
    zUp->setChecked(true);
    QCOMPARE(chosen, (QStringList{"saveas", "zUp"}));
}

// The open box hands the toolkit's dialog the behaviour's filters and name.
void Form1Test::openBoxAsksTheToolkitDialog() {
    const std::vector<v2bsp::app::FileFilter> filters{{"Vorun 2 Map File (*.Map)", "*.Map"}, {"Text", "*.txt;*.log"}};
    const auto dialog = v2bsp::ui::makeOpenDialog(nullptr, "chosen.map", filters);
    QCOMPARE(dialog->nameFilters(), (QStringList{"Vorun 2 Map File (*.Map)", "Text (*.txt *.log)"}));
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
}

void Form1Test::aboutBoxShowsTheProgramsIcon() {
    const auto box = v2bsp::ui::makeAboutBox(nullptr, "About v2bsp", "v2bsp 1.00");
    QCOMPARE(box->windowTitle(), QString("About v2bsp"));
    QCOMPARE(box->text(), QString("v2bsp 1.00"));
    QCOMPARE(box->iconPixmap().toImage(), v2bsp::ui::appIcon().pixmap(64, 64).toImage());
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
}

// The tag list out of sight takes no focus; open, it does.
void Form1Test::closedTagListIsNoTabStop() {
    Fixture f;
    auto* list = f.control<QListWidget>("List1");
    QCOMPARE(list->focusPolicy(), Qt::NoFocus);
    f.control<QPushButton>("cmdright")->click();
    QCOMPARE(list->focusPolicy(), Qt::StrongFocus);
}

// Extract returns at once: the window answers while the run goes on, and
// the run's lines, tags and end arrive through the window's own loop.
void Form1Test::extractReturnsAtOnce() {
    Fixture f;
    const fs::path map = writeMap(f.maps / "first.map", smallMap("first", 3, {"weapons\\rifle"}));
    f.form.chooseMap(qpath(map));
    f.form.show();
    f.control<QPushButton>("Command1")->click();
    // The run's end comes only through the loop, which has not run yet.
    QVERIFY(f.form.running());
    QVERIFY(!f.control<QAction>("mnuopen")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!f.form.running(), kPatience);
    QCOMPARE(f.logLines(), windowLog(3, qpath(f.program / "first")));
    QCOMPARE(f.tagList(), (QStringList{"levels\\scenario", "levels\\scenario bsp", "weapons\\rifle"}));
    QVERIFY(f.control<QAction>("mnuopen")->isEnabled());
    QVERIFY(!f.control<QPushButton>("Command1")->isEnabled());
}

// The slide's timers, running as the toolkit runs them, take the window to
// the slide's end: the client area and the list in view follow.
void Form1Test::slideTimersMoveTheWindow() {
    Fixture f;
    f.form.show();
    auto* timer1 = f.control<QTimer>("Timer1");
    auto* timer2 = f.control<QTimer>("Timer2");
    f.control<QPushButton>("cmdright")->click();
    QVERIFY(timer1->isActive() && !timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!timer1->isActive(), kPatience);
    QCOMPARE(f.form.outerWidth(), 7224.0);
    QCOMPARE(f.control<QPushButton>("cmdright")->text(), QString("<"));
    QCOMPARE(f.control<QLineEdit>("Txt1")->text(), QString("1"));
    QCOMPARE(f.form.width(), pixels(7224 - 96, f.form.logicalDpiX()));
    QVERIFY(f.control<QListWidget>("List1")->geometry().right() < f.form.centralWidget()->width());
    f.control<QPushButton>("cmdright")->click();
    QVERIFY(timer2->isActive() && !timer1->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!timer2->isActive(), kPatience);
    QCOMPARE(f.form.width(), pixels(5172 - 96, f.form.logicalDpiX()));
    QVERIFY(f.control<QListWidget>("List1")->geometry().left() >= f.form.centralWidget()->width());
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
