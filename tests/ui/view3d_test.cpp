// The 3D window without OpenGL (offscreen, with a probe that refuses the
// context): what its widgets show of a run, and how Form1 opens it; how an
// image is saved and the folder opener asked. What it decides is tested in
// tests/app.
#include <sys/resource.h>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QHeaderView>
#include <QTreeWidget>
#include <QtTest>
#include <csignal>
#include <fstream>

#include "app/texts.hpp"
#include "scratchfolder.hpp"
#include "ui/folderopener.hpp"
#include "ui/form1.hpp"
#include "ui/pngfile.hpp"
#include "ui/view3d.hpp"
#include "uitest.hpp"

using namespace uitest;

namespace {

QString refuse() {
    return QStringLiteral("refused for the test");
}

// While it lives, files of this process may grow to `bytes` and no further
// (no limit for a negative count): a longer write is cut short, then fails
// with "File too large", as writes do on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(int bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        if (bytes < 0) return;
        oldaction_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        if (oldaction_ != SIG_ERR) std::signal(SIGXFSZ, oldaction_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldaction_)(int) = SIG_ERR;
};

// Pixels that do not compress to a few bytes.
QImage noise(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 37 ^ y * 11, x * y, x * 5 + y * 3));
        }
    }
    return image;
}

struct Fixture {
    v2bsp::ScratchFolder scratch;
    fs::path program = scratch.path() / "program";
    CapturedMessages* messages = nullptr;
    Form1 form;
    fs::path map;

    explicit Fixture(const mb::Scene& scene = mb::samplescene()) {
        fs::create_directories(program);
        auto presenter = std::make_unique<CapturedMessages>();
        messages = presenter.get();
        form.setMessagePresenter(std::move(presenter));
        form.setOutputParent(qpath(program));
        form.setGlProbe(refuse);
        map = writeMap(scratch.path() / "maps" / "sample.map", scene);
    }
    void extract() {
        form.chooseMap(qpath(map));
        form.findChild<QPushButton*>("Command1")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.running(), kPatience);
    }
    QTreeWidget* list() { return form.view3d()->findChild<QTreeWidget*>("meshlist"); }
};

}  // namespace

class View3DTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void opensAfterARunWithTheRunsMeshes();
    void listColumnsHoldEveryText_data();
    void listColumnsHoldEveryText();
    void opensInsideTheScreenBesideTheWindow();
    void cutStatusHasItsWholeTextInATooltip();
    void viewMenuFollowsTheWindow();
    void unavailableSaysWhy();
    void writePng_data();
    void writePng();
    void systemOpenerSaysWhyItFailed_data();
    void systemOpenerSaysWhyItFailed();
    void placeSetsTheWholeFrame();
    void viewMenuDecidesWhetherRunsOpenIt();
    void aSecondRunRefillsIt();
    void aFailedRunLeavesItAsItWas();
};

// Numbers are grouped as this locale groups them; Qt's own formatting is the oracle.
void View3DTest::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// What the run shows is the behaviour's (tests/app); here, that the widgets show it.
void View3DTest::opensAfterARunWithTheRunsMeshes() {
    Fixture f;
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    QVERIFY(view != nullptr);
    QVERIFY(view->isVisible());
    QCOMPARE(view->windowTitle(), QString("sample room - 3D View"));
    const mb::Scene scene = mb::samplescene();
    QCOMPARE(f.list()->topLevelItemCount(), static_cast<int>(scene.meshes.size()));
    for (int m = 0; m < f.list()->topLevelItemCount(); ++m) {
        QTreeWidgetItem* row = f.list()->topLevelItem(m);
        QCOMPARE(row->text(0), QString("mesh%1").arg(m));
        QCOMPARE(row->text(2),
                 QLocale().toString(static_cast<qint64>(scene.meshes[static_cast<std::size_t>(m)].triangles.size())));
        QCOMPARE(row->checkState(0), Qt::Checked);
        QCOMPARE(row->data(0, Qt::DecorationRole).value<QColor>(), v2bsp::ui::meshColour(m));
    }
    QVERIFY(view->statusLine().startsWith(QString("%1 meshes, ").arg(scene.meshes.size())));
    QCOMPARE(view->findChild<QLabel*>("status")->text().isEmpty(), false);
}

// The offscreen screen is 800 x 800: the 3D window opens below Form1 as Form1
// is (not at the slide's open width), 80% of the screen wide, its list
// showing its numbers whole.
void View3DTest::opensInsideTheScreenBesideTheWindow() {
    Fixture f;
    f.form.show();
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    const QRect screen = f.form.screen()->availableGeometry();
    QVERIFY(screen.contains(view->frameGeometry()));
    QVERIFY(view->frameGeometry().width() <= screen.width() * 0.8 + 1);
    QVERIFY(view->frameGeometry().height() <= screen.height() * 0.8 + 1);
    QVERIFY(view->frameGeometry().width() * 3 >= screen.width() * 2);
    QVERIFY(!f.form.frameGeometry().intersects(view->frameGeometry()));
    const auto numbersWhole = [&f] {
        const QHeaderView* header = f.list()->header();
        return header->sectionPosition(2) + header->sectionSize(2) <= f.list()->viewport()->width();
    };
    QTRY_VERIFY_WITH_TIMEOUT(numbersWhole(), kPatience);
}

void View3DTest::cutStatusHasItsWholeTextInATooltip() {
    Fixture f;
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    auto* label = view->findChild<QLabel*>("status");
    view->resize(1600, 400);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), view->statusLine(), kPatience);
    QVERIFY(label->toolTip().isEmpty());
    view->resize(300, 400);
    QTRY_VERIFY_WITH_TIMEOUT(label->text() != view->statusLine(), kPatience);
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QCOMPARE(label->toolTip(), view->statusLine());
}

// Closed, the window unchecks View > 3D Window; checked again, it is back as it was left.
void View3DTest::viewMenuFollowsTheWindow() {
    Fixture f;
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    auto* toggle = f.form.findChild<QAction*>("mnu3dwindow");
    f.list()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
    f.list()->setCurrentItem(f.list()->topLevelItem(3));
    view->findChild<QAction*>("close")->trigger();
    QVERIFY(!view->isVisible());
    QVERIFY(!toggle->isChecked());
    toggle->setChecked(true);
    QCOMPARE(f.form.view3d(), view);
    QVERIFY(view->isVisible());
    QCOMPARE(f.list()->topLevelItem(2)->checkState(0), Qt::Unchecked);
    QCOMPARE(f.list()->currentItem(), f.list()->topLevelItem(3));
    // A new run shows itself afresh.
    f.extract();
    QCOMPARE(f.list()->topLevelItem(2)->checkState(0), Qt::Checked);
}

// Past a thousand rows too, where a list sized to its contents measures no more.
void View3DTest::listColumnsHoldEveryText_data() {
    QTest::addColumn<int>("meshes");
    QTest::newRow("the sample") << 0;
    QTest::newRow("1,100 meshes") << 1100;
}

void View3DTest::listColumnsHoldEveryText() {
    QFETCH(int, meshes);
    Fixture f(meshes == 0 ? mb::samplescene()
                          : mb::largeScene(static_cast<std::uint32_t>(meshes), std::uint64_t(meshes) * 12,
                                           std::uint64_t(meshes) * 4));
    f.extract();
    QTreeWidget* list = f.list();
    QCOMPARE(list->topLevelItemCount(), meshes == 0 ? static_cast<int>(mb::samplescene().meshes.size()) : meshes);
    for (int column = 0; column < list->columnCount(); ++column) {
        QVERIFY(list->columnWidth(column) >= list->header()->sectionSizeHint(column));
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            const int needed = list->sizeHintForIndex(list->model()->index(row, column)).width();
            QVERIFY2(list->columnWidth(column) >= needed, qPrintable(QString("row %1, column %2").arg(row).arg(column)));
        }
    }
    // The window at its opening width shows the three columns whole.
    f.form.view3d()->show();
    QTRY_VERIFY_WITH_TIMEOUT(list->header()->sectionPosition(2) + list->columnWidth(2) <= list->viewport()->width(),
                             kPatience);
}

void View3DTest::unavailableSaysWhy() {
    Fixture f;
    // Made, hidden, once the window is shown; a new probe makes it again.
    f.form.setGlProbe([] { return QStringLiteral("the probe of before"); });
    QVERIFY(f.form.view3d() == nullptr);
    f.form.show();
    QTRY_VERIFY_WITH_TIMEOUT(f.form.view3d() != nullptr, kPatience);
    QVERIFY(!f.form.view3d()->isVisible());
    f.form.setGlProbe(refuse);
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    QVERIFY(view->levelview() == nullptr);
    auto* notice = view->findChild<QLabel*>("unavailable");
    QVERIFY(notice != nullptr);
    QCOMPARE(notice->text(), QString("3D view unavailable: refused for the test"));
    QVERIFY(!view->findChild<QAction*>("saveimage")->isEnabled());
    QVERIFY(view->findChild<QAction*>("saveas")->isEnabled());
    QVERIFY(view->findChild<QAction*>("openfolder")->isEnabled());
}

// Beside the target lies "earlier.png", a file that is no PNG.
void View3DTest::writePng_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("empty");      // a null image, as a grab of a failed GL gives
    QTest::addColumn<int>("sizelimit");   // bytes a file may grow to; -1 for no limit
    QTest::addColumn<QString>("reason");  // empty for a save that succeeds
    QTest::newRow("a new file") << "new.png" << false << -1 << "";
    QTest::newRow("over a file") << "earlier.png" << false << -1 << "";
    QTest::newRow("under a regular file") << "earlier.png/x.png" << false << -1 << "Not a directory";
    QTest::newRow("in a missing folder") << "missing/x.png" << false << -1 << "No such file or directory";
    QTest::newRow("a new file, cut short") << "new.png" << false << 100 << "File too large";
    QTest::newRow("over a file, cut short") << "earlier.png" << false << 100 << "File too large";
    QTest::newRow("over a file, no byte written") << "earlier.png" << false << 0 << "File too large";
    QTest::newRow("over a file, an empty image") << "earlier.png" << true << -1 << "Image is empty";
}

void View3DTest::writePng() {
    QFETCH(QString, target);
    QFETCH(bool, empty);
    QFETCH(int, sizelimit);
    QFETCH(QString, reason);
    v2bsp::ScratchFolder scratch;
    const std::string earlier = "the earlier bytes";
    std::ofstream(scratch.path() / "earlier.png", std::ios::binary) << earlier;
    const QImage image = empty ? QImage() : noise(64, 48);
    const fs::path file = scratch.path() / target.toStdString();
    QString failure;
    {
        const FileSizeLimit limit(sizelimit);
        failure = v2bsp::ui::writePng(image, qpath(file));
    }
    QCOMPARE(failure, reason);
    // No temporary file stays, and no folder is made.
    QStringList names{"earlier.png"};
    if (reason.isEmpty() && target != "earlier.png") names << target;
    QCOMPARE(listing(scratch.path()), names);
    if (reason.isEmpty()) {
        QCOMPARE(QImage(qpath(file), "PNG"), image);
    } else {
        QCOMPARE(v2bsp::readFile(scratch.path() / "earlier.png"), earlier);
    }
}

// The system's opener is an xdg-open of the test's own, first on the PATH.
void View3DTest::systemOpenerSaysWhyItFailed_data() {
    QTest::addColumn<QString>("script");  // the body of xdg-open
    QTest::addColumn<QString>("failure");
    QTest::newRow("shown") << "exit 0"
                           << "";
    QTest::newRow("no handler") << "echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3"
                                << "xdg-open ended with status 3: xdg-open: no method available for opening '{F}'";
    QTest::newRow("silent failure") << "exit 4"
                                    << "xdg-open ended with status 4.";
}

void View3DTest::systemOpenerSaysWhyItFailed() {
    QFETCH(QString, script);
    QFETCH(QString, failure);
    v2bsp::ScratchFolder scratch;
    const fs::path opener = scratch.path() / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\n" << script.toStdString() << "\n";
    fs::permissions(opener, fs::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(scratch.path().string()) + ":" + path);
    QObject owner;
    QString said = "not yet";
    v2bsp::ui::systemFolderOpener (&owner)(scratch.path(),
                                           [&](const std::string& why) { said = QString::fromStdString(why); });
    qputenv("PATH", path);
    QTRY_VERIFY_WITH_TIMEOUT(said != "not yet", kPatience);
    QCOMPARE(said, QString(failure).replace("{F}", qpath(scratch.path())));
}

// What Form1's behaviour asks of it: the frame it would like, and a frame given.
void View3DTest::placeSetsTheWholeFrame() {
    v2bsp::ui::View3D view(refuse);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view, kPatience));
    const v2bsp::app::Size preferred = view.preferredFrame();
    QVERIFY(preferred.width >= v2bsp::app::kView3DWidth && preferred.height >= v2bsp::app::kView3DHeight);
    view.place({30, 40, 700, 500});
    QTRY_COMPARE_WITH_TIMEOUT(view.frameGeometry(), QRect(30, 40, 700, 500), kPatience);
    view.hide();
    QVERIFY(!view.isVisible());
}

void View3DTest::viewMenuDecidesWhetherRunsOpenIt() {
    Fixture f;
    auto* toggle = f.form.findChild<QAction*>("mnu3dwindow");
    QVERIFY(toggle != nullptr && toggle->isCheckable() && toggle->isChecked());
    toggle->setChecked(false);
    f.extract();
    QVERIFY(f.form.view3d() == nullptr);
    toggle->setChecked(true);
    QVERIFY(f.form.view3d() != nullptr && f.form.view3d()->isVisible());
    QCOMPARE(f.list()->topLevelItemCount(), 10);
    toggle->setChecked(false);
    QVERIFY(!f.form.view3d()->isVisible());
}

void View3DTest::aSecondRunRefillsIt() {
    Fixture f(smallMap("first", 2, {}));
    f.extract();
    v2bsp::ui::View3D* view = f.form.view3d();
    QCOMPARE(f.list()->topLevelItemCount(), 2);
    f.map = writeMap(f.scratch.path() / "maps" / "second.map", smallMap("second", 3, {}));
    f.extract();
    QCOMPARE(f.form.view3d(), view);
    QCOMPARE(view->windowTitle(), QString("second - 3D View"));
    QCOMPARE(f.list()->topLevelItemCount(), 3);
}

void View3DTest::aFailedRunLeavesItAsItWas() {
    Fixture f(smallMap("first", 2, {}));
    f.extract();
    const fs::path bad = f.scratch.path() / "maps" / "bad.map";
    std::ofstream(bad) << "not a map";
    f.map = bad;
    f.extract();
    QCOMPARE(f.messages->notices.size(), std::size_t{1});
    QCOMPARE(f.form.view3d()->windowTitle(), QString("first - 3D View"));
    QCOMPARE(f.list()->topLevelItemCount(), 2);
}

QTEST_MAIN(View3DTest)
#include "view3d_test.moc"
