// The 3D window drawn by OpenGL on a real X server (CTest runs it under
// xvfb-run with Mesa's software renderer): what the framebuffer shows of the
// sample room, and which mesh a pixel picks.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QTreeWidget>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <map>

#include "app/framing.hpp"
#include "fakedialogs.hpp"
#include "meshcolour.hpp"
#include "recordinghost.hpp"
#include "scratchfolder.hpp"
#include "ui/form1.hpp"
#include "ui/levelview.hpp"
#include "ui/view3d.hpp"
#include "uitest.hpp"

using namespace uitest;
using v2bsp::ui::LevelGeometry;
using v2bsp::ui::LevelView;

namespace {

// The mesh whose colour `pixel` has, or -1.
int meshOfColour(QRgb pixel, int meshes) {
    return v2bsp::fixtures::meshOfColour(qRed(pixel) / 255.0, qGreen(pixel) / 255.0, qBlue(pixel) / 255.0, meshes);
}

std::map<int, int> pixelsPerMesh(const QImage& image, int meshes) {
    std::map<int, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ++counts[meshOfColour(image.pixel(x, y), meshes)];
    }
    return counts;
}

// Bytes of the level's positions and indices.
std::int64_t dataBytes(const LevelGeometry& level) {
    return static_cast<std::int64_t>(level.positions.size() * sizeof(float) +
                                     level.indices.size() * sizeof(std::uint16_t));
}

// Moves `view` into another window, or back, by `move`, and waits until it
// draws there: its GL context is ended and a new one made, so initializeGL
// runs again.
bool movedToANewContext(LevelView* view, const std::function<void()>& move) {
    const QPointer<QOpenGLContext> old = view->context();
    move();
    view->show();
    if (!QTest::qWaitForWindowExposed(view->window(), kPatience)) return false;
    return QTest::qWaitFor([&] { return old.isNull() && view->isValid(); }, kPatience);
}

// The current context's function `name`.
void* currentFunction(const char* name) {
    const QFunctionPointer found = QOpenGLContext::currentContext()->getProcAddress(name);
    void* pointer = nullptr;
    std::memcpy(&pointer, &found, sizeof pointer);
    return pointer;
}

// The dark pixels of the wireframe's lines.
int darkPixels(const QImage& image) {
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 25 ? 1 : 0;
    }
    return dark;
}

}  // namespace

class LevelViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstPictureShowsTheWholeLevel();
    void everyMeshIsDrawnInItsColour();
    void hidingAMeshRemovesItsColour_data();
    void hidingAMeshRemovesItsColour();
    void fromAboveTheFloorIsAtTheCentre();
    void picking_data();
    void picking();
    void pickingSelectsTheRow();
    void zUpTurnsTheLevel();
    void levelIsHeldOnce();
    void aNewContextDrawsTheSameLevel_data();
    void aNewContextDrawsTheSameLevel();
    void aSourceThatLostTheLevelMakesTheViewUnavailable();
    void saveImageSaysWhatItDid_data();
    void saveImageSaysWhatItDid();
    void keysTriggerTheirActions_data();
    void keysTriggerTheirActions();
    void cameraKeysReachTheBehaviour_data();
    void cameraKeysReachTheBehaviour();
    void tabMovesBetweenTheListAndTheView();
    void doubleClickOnARowFramesItsMesh();
    void largeLevelIsDrawnCheaplyWhileMoving();
    void anOpenGlEsContextDrawsTheLevel();

private:
    void lookFrom(float yaw, float pitch);
    QImage frame();

    v2bsp::ScratchFolder scratch_;
    v2bsp::MapExtraction extraction_;  // the test's own run of the sample
    std::unique_ptr<Form1> form_;
    LevelView* view_ = nullptr;
    int meshes_ = 0;
    QString runStatus_;  // the 3D window's status line after the run
};

void LevelViewTest::initTestCase() {
    form_ = std::make_unique<Form1>();
    form_->setOutputParent(qpath(scratch_.path()));
    form_->show();
    const mb::Scene scene = mb::samplescene();
    meshes_ = static_cast<int>(scene.meshes.size());
    const fs::path map = writeMap(scratch_.path() / "maps" / "sample.map", scene);
    form_->chooseMap(qpath(map));
    form_->findChild<QPushButton*>("Command1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->running(), kPatience);
    QVERIFY(form_->view3d() != nullptr);
    view_ = form_->view3d()->levelview();
    QVERIFY2(view_ != nullptr, "no OpenGL under Xvfb");
    QVERIFY(QTest::qWaitForWindowExposed(form_->view3d(), kPatience));
    QTRY_VERIFY_WITH_TIMEOUT(view_->isValid(), kPatience);
    QVERIFY2(view_->failure().isEmpty(), qPrintable(view_->failure()));
    QCOMPARE(view_->renderer().meshcount(), meshes_);
    runStatus_ = form_->view3d()->statusLine();
    v2bsp::fixtures::RecordingHost host;
    v2bsp::ExtractSettings settings;
    settings.outputParent = scratch_.path() / "own";
    fs::create_directories(settings.outputParent);
    QCOMPARE(extraction_.extractmap(map.string(), host, settings).status, v2bsp::ExtractStatus::complete);
}

// As the window opened, before anything moved its camera: every mesh, and
// every corner of the room's bounds inside the view.
void LevelViewTest::firstPictureShowsTheWholeLevel() {
    const std::map<int, int> counts = pixelsPerMesh(frame(), meshes_);
    for (int m = 0; m < meshes_; ++m) QVERIFY2(counts.contains(m), qPrintable(QString("mesh %1 not drawn").arg(m)));
    QVector3D low(1e9f, 1e9f, 1e9f), high(-1e9f, -1e9f, -1e9f);
    for (const mb::Mesh& mesh : mb::samplescene().meshes) {
        for (const auto& v : mesh.vertices) {
            const QVector3D p(v.x, v.y, v.z);
            low = QVector3D(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
            high = QVector3D(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z()));
        }
    }
    for (int corner = 0; corner < 8; ++corner) {
        const QVector3D at(corner & 1 ? high.x() : low.x(), corner & 2 ? high.y() : low.y(),
                           corner & 4 ? high.z() : low.z());
        QVERIFY2(view_->rect().contains(view_->pixelOf(at)), qPrintable(QString("corner %1 cut off").arg(corner)));
    }
}

void LevelViewTest::lookFrom(float yaw, float pitch) {
    v2bsp::app::Camera& camera = view_->renderer().camera();
    camera.setZUp(false);
    camera.frameAll();
    camera.setOrbit(yaw, pitch);
    view_->update();
}

QImage LevelViewTest::frame() {
    return view_->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

void LevelViewTest::everyMeshIsDrawnInItsColour() {
    lookFrom(30, 60);
    const std::map<int, int> counts = pixelsPerMesh(frame(), meshes_);
    for (int m = 0; m < meshes_; ++m) {
        QVERIFY2(counts.contains(m) && counts.at(m) >= 20, qPrintable(QString("mesh %1 not drawn").arg(m)));
    }
    QVERIFY(counts.contains(-1));  // the background around the room
}

void LevelViewTest::hidingAMeshRemovesItsColour_data() {
    QTest::addColumn<int>("mesh");
    QTest::newRow("floor") << 0;
    QTest::newRow("a wall") << 2;
    QTest::newRow("a pillar") << 6;
    QTest::newRow("the steps") << 9;
}

void LevelViewTest::hidingAMeshRemovesItsColour() {
    QFETCH(int, mesh);
    lookFrom(30, 60);
    view_->renderer().setMeshVisible(mesh, false);
    const std::map<int, int> hidden = pixelsPerMesh(frame(), meshes_);
    view_->renderer().setMeshVisible(mesh, true);
    QVERIFY(!hidden.contains(mesh));
    QVERIFY(pixelsPerMesh(frame(), meshes_).contains(mesh));
}

void LevelViewTest::fromAboveTheFloorIsAtTheCentre() {
    lookFrom(0, 90);
    const QImage image = frame();
    const QPoint centre = view_->pixelOf({0, 0, 0});
    QCOMPARE(meshOfColour(image.pixel(centre), meshes_), 0);
    // Beyond the room's walls nothing is drawn.
    const QPoint outside = view_->pixelOf({12, 0, 0});
    QVERIFY(image.rect().contains(outside));
    QCOMPARE(meshOfColour(image.pixel(outside), meshes_), -1);
    QCOMPARE(meshOfColour(image.pixel(2, 2), meshes_), -1);
}

void LevelViewTest::picking_data() {
    QTest::addColumn<QVector3D>("point");
    QTest::addColumn<int>("mesh");
    QTest::newRow("floor centre") << QVector3D(0, 0, 0) << 0;
    QTest::newRow("floor corner") << QVector3D(8, 0, 6) << 0;
    QTest::newRow("pillar -6 -4.5") << QVector3D(-6, 4, -4.5f) << 5;
    QTest::newRow("pillar -6 4.5") << QVector3D(-6, 4, 4.5f) << 6;
    QTest::newRow("pillar 6 -4.5") << QVector3D(6, 4, -4.5f) << 7;
    QTest::newRow("pillar 6 4.5") << QVector3D(6, 4, 4.5f) << 8;
    QTest::newRow("steps' landing") << QVector3D(0, 1, -7.25f) << 9;
    QTest::newRow("outside the room") << QVector3D(12, 0, 0) << -1;
}

void LevelViewTest::picking() {
    QFETCH(QVector3D, point);
    QFETCH(int, mesh);
    lookFrom(0, 90);
    QCOMPARE(view_->meshAt(view_->pixelOf(point)), mesh);
}

void LevelViewTest::pickingSelectsTheRow() {
    lookFrom(0, 90);
    QTest::mouseClick(view_, Qt::LeftButton, {}, view_->pixelOf({6, 4, 4.5f}));
    QCOMPARE(view_->renderer().highlighted(), 8);
    auto* list = form_->view3d()->findChild<QTreeWidget*>("meshlist");
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems()[0]->text(0), QString("mesh8"));
    list->setCurrentItem(list->topLevelItem(3));
    QCOMPARE(view_->renderer().highlighted(), 3);
    list->clearSelection();
    QCOMPARE(view_->renderer().highlighted(), -1);
}

// The sample stores Y up; shown as Z up its floor stands on edge, so from
// above the centre shows the floor no more.
void LevelViewTest::zUpTurnsTheLevel() {
    lookFrom(0, 90);
    view_->renderer().camera().setZUp(true);
    view_->renderer().camera().setOrbit(0, 90);
    const int picked = view_->meshAt(QPoint(view_->width() / 2, view_->height() / 2));
    view_->renderer().camera().setZUp(false);
    QVERIFY(picked != 0);
}

void LevelViewTest::levelIsHeldOnce() {
    const mb::Scene scene = mb::samplescene();
    std::int64_t vertices = 0, triangles = 0;
    for (const mb::Mesh& mesh : scene.meshes) {
        vertices += static_cast<std::int64_t>(mesh.vertices.size());
        triangles += static_cast<std::int64_t>(mesh.triangles.size());
    }
    // Positions and indices once, and a little per mesh.
    QVERIFY(view_->renderer().levelBytes() >= 12 * vertices + 6 * triangles);
    QVERIFY(view_->renderer().levelBytes() <= 12 * vertices + 6 * triangles + 80 * meshes_);
}

// "copies": of the level's data the view holds once it is drawn; with no
// source to decode the level again it keeps its own.
void LevelViewTest::aNewContextDrawsTheSameLevel_data() {
    QTest::addColumn<bool>("ownsource");
    QTest::addColumn<int>("copies");
    QTest::newRow("decoded again by the 3D window") << true << 1;
    QTest::newRow("kept by the view") << false << 2;
}

void LevelViewTest::aNewContextDrawsTheSameLevel() {
    QFETCH(bool, ownsource);
    QFETCH(int, copies);
    LevelGeometry level = v2bsp::ui::levelGeometry(extraction_.plan);
    level.positions.shrink_to_fit();
    level.indices.shrink_to_fit();
    const std::int64_t data = dataBytes(level);
    if (!ownsource) view_->setLevel(std::move(level));
    constexpr int kHidden = 2, kHighlighted = 3;
    lookFrom(30, 60);
    view_->renderer().setMeshVisible(kHidden, false);
    view_->renderer().setHighlighted(kHighlighted);
    const QImage before = frame();

    auto* splitter = qobject_cast<QSplitter*>(view_->parentWidget());
    QVERIFY(splitter != nullptr);
    const int place = splitter->indexOf(view_);
    const QList<int> sizes = splitter->sizes();
    const auto putBack = [&] {
        splitter->insertWidget(place, view_);
        splitter->setSizes(sizes);
    };
    QWidget elsewhere;
    elsewhere.resize(view_->size());
    // Whatever fails, the view is not left to end with `elsewhere`.
    const auto guard = qScopeGuard([&] {
        if (view_->parentWidget() != splitter) putBack();
    });
    const std::pair<const char*, std::function<void()>> moves[] = {
        {"into another window",
         [&] {
             view_->setParent(&elsewhere);
             view_->move(0, 0);
             elsewhere.show();
         }},
        {"back into the 3D window", putBack},
    };
    for (const auto& [where, move] : moves) {
        QVERIFY2(movedToANewContext(view_, move), where);
        QVERIFY2(view_->failure().isEmpty(), qPrintable(view_->failure()));
        const QImage after = frame();
        const std::map<int, int> counts = pixelsPerMesh(after, meshes_);
        for (int m = 0; m < meshes_; ++m) {
            // The highlighted mesh is lighter, so its hue is weak; the frame below holds it.
            if (m == kHighlighted) continue;
            const bool drawn = counts.contains(m) && counts.at(m) >= 20;
            QVERIFY2(drawn == (m != kHidden), qPrintable(QString("%1: mesh %2").arg(where).arg(m)));
        }
        // The same camera, hidden mesh and highlight: the same frame.
        QVERIFY2(after == before, where);
        QVERIFY2(view_->renderer().levelBytes() >= copies * data &&
                     view_->renderer().levelBytes() <= copies * data + 80 * meshes_,
                 qPrintable(QString("%1: %2 bytes").arg(where).arg(view_->renderer().levelBytes())));
    }
}

// A source that gives another level than the one set would have the view
// draw past its buffers: the view says so instead.
void LevelViewTest::aSourceThatLostTheLevelMakesTheViewUnavailable() {
    QWidget first, second;
    auto* view = new LevelView(&first);
    view->resize(200, 150);
    view->setLevel(v2bsp::ui::levelGeometry(extraction_.plan), [] { return LevelGeometry{}; });
    QVERIFY(movedToANewContext(view, [&] { first.show(); }));
    QVERIFY(view->failure().isEmpty());
    QSignalSpy unavailable(view, &LevelView::unavailable);
    QVERIFY(movedToANewContext(view, [&] {
        view->setParent(&second);
        second.show();
    }));
    QCOMPARE(unavailable.size(), 1);
    QCOMPARE(view->failure(), QString("the level could not be had again for a new OpenGL context"));
    // The background alone.
    QCOMPARE(pixelsPerMesh(view->grabFramebuffer(), meshes_).size(), std::size_t{1});
}

void LevelViewTest::saveImageSaysWhatItDid_data() {
    QTest::addColumn<QString>("answer");  // the name chosen in the box, in the scratch folder
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("reason");  // empty for a save that succeeds
    QTest::newRow("a PNG") << "shot.png"
                           << "shot.png"
                           << "";
    QTest::newRow("a name without its extension") << "view"
                                                  << "view.png"
                                                  << "";
    QTest::newRow("in a missing folder") << "missing/shot.png"
                                         << "missing/shot.png"
                                         << "No such file or directory";
    QTest::newRow("under a regular file") << "maps/sample.map/shot.png"
                                          << "maps/sample.map/shot.png"
                                          << "Not a directory";
}

void LevelViewTest::saveImageSaysWhatItDid() {
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QFETCH(QString, reason);
    v2bsp::ui::View3D* window = form_->view3d();
    auto box = std::make_unique<v2bsp::fixtures::ScriptedSaveBox>();
    box->answer = (scratch_.path() / answer.toStdString()).string();
    v2bsp::fixtures::ScriptedSaveBox* saves = box.get();
    window->setSaveBox(std::move(box));
    lookFrom(30, 60);
    window->findChild<QAction*>("saveimage")->trigger();
    QCOMPARE(saves->title, "Save Image");
    const QString name = qpath(scratch_.path() / written.toStdString());
    if (reason.isEmpty()) {
        QCOMPARE(window->statusLine(), "Saved " + name + ". " + runStatus_);
        const QImage saved(name, "PNG");
        QCOMPARE(saved.size(), frame().size());
        QVERIFY(pixelsPerMesh(saved, meshes_).size() > 1);  // the meshes, not the background alone
    } else {
        QCOMPARE(window->statusLine(), "Could not write " + name + ": " + reason);
        QVERIFY(!QFileInfo::exists(name));
    }
}

void LevelViewTest::keysTriggerTheirActions_data() {
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("action");
    QTest::newRow("Ctrl+S") << QKeySequence("Ctrl+S") << "saveas";
    QTest::newRow("Ctrl+Shift+S") << QKeySequence("Ctrl+Shift+S") << "saveimage";
    QTest::newRow("Ctrl+E") << QKeySequence("Ctrl+E") << "openfolder";
    QTest::newRow("Ctrl+W") << QKeySequence("Ctrl+W") << "close";
    QTest::newRow("Esc") << QKeySequence("Esc") << "close";
    QTest::newRow("F") << QKeySequence("F") << "frameAll";
    QTest::newRow("Shift+F") << QKeySequence("Shift+F") << "frameSelected";
    QTest::newRow("W") << QKeySequence("W") << "wireframe";
    QTest::newRow("Z") << QKeySequence("Z") << "zUp";
}

// From the list and from the view; the dialogs answer "cancel", the file manager is not asked.
void LevelViewTest::keysTriggerTheirActions() {
    QFETCH(QKeySequence, key);
    QFETCH(QString, action);
    v2bsp::ui::View3D* window = form_->view3d();
    window->setSaveBox(std::make_unique<v2bsp::fixtures::ScriptedSaveBox>());
    window->setFolderOpener([](const fs::path&, const std::function<void(const std::string&)>&) {});
    auto* list = window->findChild<QTreeWidget*>("meshlist");
    for (QWidget* focus : {static_cast<QWidget*>(list), static_cast<QWidget*>(view_)}) {
        form_->findChild<QAction*>("mnu3dwindow")->setChecked(true);
        QApplication::setActiveWindow(window);
        QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), kPatience);
        focus->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(focus->hasFocus(), kPatience);
        QSignalSpy triggered(window->findChild<QAction*>(action), &QAction::triggered);
        QTest::keySequence(window, key);
        QVERIFY2(triggered.size() == 1, qPrintable(focus->objectName()));
    }
    QVERIFY(window->isVisible() == (action != "close"));
    form_->findChild<QAction*>("mnu3dwindow")->setChecked(true);
    QVERIFY(window->isVisible());
}

void LevelViewTest::cameraKeysReachTheBehaviour_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QString>("moves");  // what of the camera changes: orbit, pan or zoom
    QTest::newRow("Left") << int(Qt::Key_Left) << false << "orbit";
    QTest::newRow("Right") << int(Qt::Key_Right) << false << "orbit";
    QTest::newRow("Up") << int(Qt::Key_Up) << false << "orbit";
    QTest::newRow("Down") << int(Qt::Key_Down) << false << "orbit";
    QTest::newRow("Shift+Left") << int(Qt::Key_Left) << true << "pan";
    QTest::newRow("Shift+Down") << int(Qt::Key_Down) << true << "pan";
    QTest::newRow("+") << int(Qt::Key_Plus) << true << "zoom";
    QTest::newRow("-") << int(Qt::Key_Minus) << false << "zoom";
    QTest::newRow("Page Up") << int(Qt::Key_PageUp) << false << "zoom";
    QTest::newRow("Page Down") << int(Qt::Key_PageDown) << false << "zoom";
}

// In the view; what each key does to the camera is the behaviour's (tests/app).
void LevelViewTest::cameraKeysReachTheBehaviour() {
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(QString, moves);
    v2bsp::ui::View3D* window = form_->view3d();
    form_->findChild<QAction*>("mnu3dwindow")->setChecked(true);
    QApplication::setActiveWindow(window);
    QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), kPatience);
    view_->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(view_->hasFocus(), kPatience);
    lookFrom(30, 30);
    const v2bsp::app::Camera before = view_->renderer().camera();
    QTest::keyClick(view_, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    const v2bsp::app::Camera& after = view_->renderer().camera();
    const v2bsp::app::Vec3 moved = after.target() - before.target();
    QCOMPARE(after.yaw() != before.yaw() || after.pitch() != before.pitch(), moves == "orbit");
    QCOMPARE(after.distance() != before.distance(), moves == "zoom");
    // Zoomed towards the middle pixel, the target may move by a part of one.
    if (moves != "zoom") QCOMPARE(std::abs(moved.x) + std::abs(moved.y) + std::abs(moved.z) > 1e-3f, moves == "pan");
}

void LevelViewTest::tabMovesBetweenTheListAndTheView() {
    v2bsp::ui::View3D* window = form_->view3d();
    QApplication::setActiveWindow(window);
    QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), kPatience);
    auto* list = window->findChild<QTreeWidget*>("meshlist");
    view_->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(view_->hasFocus(), kPatience);
    QTest::keyClick(view_, Qt::Key_Tab);
    QTRY_VERIFY_WITH_TIMEOUT(list->hasFocus(), kPatience);
    QTest::keyClick(list, Qt::Key_Tab);
    QTRY_VERIFY_WITH_TIMEOUT(view_->hasFocus(), kPatience);
}

// A pillar framed fills the middle of the view.
void LevelViewTest::doubleClickOnARowFramesItsMesh() {
    lookFrom(30, 60);
    auto* list = form_->view3d()->findChild<QTreeWidget*>("meshlist");
    QTreeWidgetItem* pillar = list->topLevelItem(6);
    list->setCurrentItem(pillar);
    const QRect row = list->visualItemRect(pillar);
    // The events of a double-click as the toolkit hands them to the list.
    const QPoint at = row.center(), global = list->viewport()->mapToGlobal(at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, global, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    }
    const QPoint middle(view_->width() / 2, view_->height() / 2);
    QCOMPARE(view_->meshAt(middle), 6);
    QVERIFY(pixelsPerMesh(frame(), meshes_)[6] > view_->width() * view_->height() / 20);
    list->clearSelection();
}

// A level past the cheap drawing's budget: five meshes of small squares,
// each smaller and in front of the one before. Moving, fewer pixels are
// drawn; at rest the picture drawn a part at a time is the picture drawn at once.
void LevelViewTest::largeLevelIsDrawnCheaplyWhileMoving() {
    LevelGeometry level;
    constexpr int kMeshes = 5;
    constexpr int kSide = 500;  // 250 squares a side, two triangles each: 125,000 triangles a mesh
    for (int mesh = 0; mesh < kMeshes; ++mesh) {
        v2bsp::ui::LevelMeshRange range;
        range.number = mesh;
        range.firstIndex = static_cast<std::uint32_t>(level.indices.size());
        range.baseVertex = static_cast<std::uint32_t>(level.positions.size() / 3);
        const float depth = 0.1f * static_cast<float>(mesh);
        const float reach = 1 - 0.15f * static_cast<float>(mesh);
        for (int y = 0; y <= kSide / 2; ++y) {
            for (int x = 0; x <= kSide / 2; ++x) {
                level.positions.insert(level.positions.end(), {reach * (2.0f * x / (kSide / 2) - 1),
                                                               reach * (2.0f * y / (kSide / 2) - 1), depth});
            }
        }
        // Each mesh's vertices are counted from its base; 251 x 251 of them fit 16 bits.
        const int across = kSide / 2 + 1;
        for (int y = 0; y < kSide / 2; ++y) {
            for (int x = 0; x < kSide / 2; ++x) {
                const auto at = [&](int dx, int dy) { return static_cast<std::uint16_t>((y + dy) * across + x + dx); };
                level.indices.insert(level.indices.end(), {at(0, 0), at(1, 0), at(1, 1), at(0, 0), at(1, 1), at(0, 1)});
            }
        }
        range.indexCount = static_cast<std::uint32_t>(level.indices.size()) - range.firstIndex;
        range.vertexCount = static_cast<std::uint32_t>(across * across);
        range.coarseCount =
            v2bsp::app::putCoarseFirst(std::span(level.indices).subspan(range.firstIndex, range.indexCount), 4);
        v2bsp::app::appendCoarse(level, range);
        level.meshes.push_back(range);
    }
    level.min = {-1, -1, 0};
    level.max = {1, 1, 0.1f * (kMeshes - 1)};
    // The level is given as a run's end gives it, its positions and indices after it.
    LevelGeometry arrays;
    arrays.positions = std::move(level.positions);
    arrays.indices = std::move(level.indices);
    level.positions = {};
    level.indices = {};
    level.arraysToCome = true;
    QWidget window;
    auto* view = new LevelView(&window);
    view->resize(320, 240);
    view->setLevel(std::move(level));
    int wanted = 0;
    view->renderer().whenArraysWanted([&] { ++wanted; });
    QCOMPARE(wanted, 0);
    // The first picture is drawn from the coarse arrays alone: nothing else
    // is uploaded yet, and the arrays are wanted once it is.
    const std::map<int, int> first = pixelsPerMesh(view->grabFramebuffer(), kMeshes);
    QCOMPARE(wanted, 1);
    QVERIFY(first.count(kMeshes - 1) == 1 && first.at(kMeshes - 1) > 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, kPatience));
    QVERIFY(view->renderer().triangles() > v2bsp::app::kPartTriangles);
    view->renderer().camera().setOrbit(20, 30);
    view->update();
    QSignalSpy whole(view, &LevelView::fullPictureShown);
    // Until the arrays come, every paint at rest shows the cheap picture, as
    // moving does, and adds no part of the full one.
    const QImage waiting = view->grabFramebuffer();
    view->makeCurrent();
    for (int paint = 0; paint <= kMeshes + 1; ++paint) {
        QCOMPARE(view->renderer().paint({view->defaultFramebufferObject(), view->width(), view->height()}),
                 v2bsp::app::Painted::cheap);
    }
    view->doneCurrent();
    QCOMPARE(wanted, 1);
    view->renderer().setMoving(true);
    QCOMPARE(view->grabFramebuffer(), waiting);
    view->renderer().setMoving(false);
    QCOMPARE(whole.count(), 0);
    QVERIFY(view->renderer().setArrays(std::move(arrays)));
    QVERIFY(!view->renderer().setArrays(LevelGeometry{}));  // once only
    view->update();
    QVERIFY(whole.wait(kPatience));
    QVERIFY(pixelsPerMesh(view->grabFramebuffer(), kMeshes).at(kMeshes - 1) >
            pixelsPerMesh(waiting, kMeshes).at(kMeshes - 1));
    const QImage rest = view->grabFramebuffer();
    const QImage once = view->picture();
    QCOMPARE(rest, once);
    view->renderer().setMoving(true);
    view->update();
    const QImage moving = view->grabFramebuffer();
    const std::map<int, int> full = pixelsPerMesh(once, kMeshes), cheap = pixelsPerMesh(moving, kMeshes);
    QVERIFY(cheap.at(kMeshes - 1) > 0 && cheap.at(kMeshes - 1) < full.at(kMeshes - 1));
    view->renderer().setMoving(false);
    view->update();
    QVERIFY(whole.wait(kPatience));
    QCOMPARE(view->grabFramebuffer(), once);
    // Paints before the last frame is on the screen (a grab is one) add no
    // part: the cheap picture is shown first, and the rest still comes.
    view->renderer().camera().setOrbit(40, 30);
    view->update();
    QSignalSpy again(view, &LevelView::fullPictureShown);
    for (int paint = 0; paint <= kMeshes + 1; ++paint) view->grabFramebuffer();
    QCOMPARE(again.count(), 0);
    QVERIFY(again.wait(kPatience));
}

// A browser's WebGL2 is OpenGL ES 3.0: the level drawn, hidden, outlined and
// picked in such a context, without the functions only OpenGL 3.3 has.
void LevelViewTest::anOpenGlEsContextDrawsTheLevel() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGLES);
    format.setVersion(3, 0);
    QOpenGLContext context;
    context.setFormat(format);
    QOffscreenSurface surface;
    surface.setFormat(format);
    surface.create();
    if (!context.create() || !context.isOpenGLES() || !context.makeCurrent(&surface)) {
        QSKIP("no OpenGL ES context on this display");
    }
    const auto done = qScopeGuard([&] { context.doneCurrent(); });
    v2bsp::app::gl::Functions gl;
    QCOMPARE(v2bsp::app::gl::load(currentFunction, gl), std::string());
    QVERIFY(gl.PolygonMode == nullptr && gl.DrawElementsBaseVertex == nullptr);
    v2bsp::app::LevelRenderer renderer;
    const auto release = qScopeGuard([&] { renderer.release(); });
    QCOMPARE(renderer.initialize(gl), std::string());
    renderer.setLevel(v2bsp::ui::levelGeometry(extraction_.plan));
    constexpr int kWidth = 320, kHeight = 240;
    v2bsp::app::Camera& camera = renderer.camera();
    camera.setViewport(kWidth, kHeight);
    camera.setOrbit(30, 60);
    const auto picture = [&] {
        std::vector<std::uint8_t> rgba = renderer.picture(kWidth, kHeight);
        return QImage(rgba.data(), kWidth, kHeight, QImage::Format_RGBA8888).convertToFormat(QImage::Format_RGB32);
    };
    const std::map<int, int> counts = pixelsPerMesh(picture(), meshes_);
    for (int m = 0; m < meshes_; ++m) QVERIFY2(counts.contains(m), qPrintable(QString("mesh %1 not drawn").arg(m)));
    renderer.setMeshVisible(2, false);
    QVERIFY(!pixelsPerMesh(picture(), meshes_).contains(2));
    renderer.setMeshVisible(2, true);
    const int darkBefore = darkPixels(picture());
    renderer.setWireframe(true);
    QVERIFY2(darkPixels(picture()) > darkBefore + 100, "no wireframe drawn");
    renderer.setWireframe(false);
    camera.setOrbit(0, 90);
    const v2bsp::app::Pixel pillar = camera.pixelOf({6, 4, 4.5f});
    QCOMPARE(renderer.meshAt(pillar), 8);
    QCOMPARE(renderer.meshAt(camera.pixelOf({0, 0, 0})), 0);
}

QTEST_MAIN(LevelViewTest)
#include "levelview_test.moc"
