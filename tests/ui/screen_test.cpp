// The real window on a real X server (CTest runs it under xvfb-run): the
// controls are drawn on the screen where their twips put them. With
// V2BSP_SCREENSHOT=FILE it also saves the window, after an extraction with
// the slide open, as that PNG file, and with V2BSP_VIEW_SCREENSHOT=FILE the
// 3D window that the extraction opened.

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstdlib>

#include "scratchfolder.hpp"
#include "ui/form1.hpp"
#include "uitest.hpp"

using namespace uitest;

namespace {

int pixels(double twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440));
}

QRect twipsRect(double left, double top, double width, double height, double dpi) {
    const int x = pixels(left, dpi), y = pixels(top, dpi);
    return {x, y, pixels(left + width, dpi) - x, pixels(top + height, dpi) - y};
}

// The share of pixels in which two images of one size differ.
double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return 1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    qint64 differ = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) differ += x.pixel(col, row) != y.pixel(col, row);
    }
    return static_cast<double>(differ) / (static_cast<double>(x.width()) * x.height());
}

}  // namespace

class ScreenTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void drawnWhereTheTwipsSay_data();
    void drawnWhereTheTwipsSay();
    void view3dOpensBesideTheWindow();

private:
    void slideTo(const char* state);
    QImage screenOf(const QRect& clientRect);

    v2bsp::ScratchFolder scratch_;
    std::unique_ptr<Form1> form_;
};

void ScreenTest::initTestCase() {
    QApplication::setCursorFlashTime(0);  // a caret that does not blink
    form_ = std::make_unique<Form1>();
    form_->setOutputParent(qpath(scratch_.path()));
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get(), kPatience));
    const fs::path map = writeMap(scratch_.path() / "maps" / "sample.map", mb::samplescene());
    form_->chooseMap(qpath(map));
    form_->findChild<QPushButton*>("Command1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->running(), kPatience);
    QCOMPARE(form_->lastResult().status, v2bsp::ExtractStatus::complete);
}

void ScreenTest::cleanupTestCase() {
    if (const char* file = std::getenv("V2BSP_SCREENSHOT")) {
        slideTo("1");
        QVERIFY(screenOf(form_->rect().translated(form_->centralWidget()->mapFrom(form_.get(), QPoint())))
                    .save(QString::fromLocal8Bit(file), "PNG"));
    }
    if (const char* file = std::getenv("V2BSP_VIEW_SCREENSHOT")) {
        v2bsp::ui::View3D* view = form_->view3d();
        view->raise();
        QTest::qWait(300);
        const QRect frame = view->geometry();
        QVERIFY(form_->screen()
                    ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                    .save(QString::fromLocal8Bit(file), "PNG"));
    }
    form_.reset();
}

// Beside the window at its widest, so that neither covers the other.
void ScreenTest::view3dOpensBesideTheWindow() {
    v2bsp::ui::View3D* view = form_->view3d();
    QVERIFY(view != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(view, kPatience));
    QCOMPARE(view->windowTitle(), QString("sample room - 3D View"));
    slideTo("1");
    QVERIFY(!form_->frameGeometry().intersects(view->frameGeometry()));
    QTRY_VERIFY_WITH_TIMEOUT(form_->screen()->availableGeometry().contains(view->frameGeometry()), kPatience);
}

void ScreenTest::drawnWhereTheTwipsSay_data() {
    QTest::addColumn<QString>("slide");  // Txt1's state: "0" narrow, "1" wide
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRectF>("twips");
    QTest::addColumn<bool>("drawn");
    const QRectF datalog(120, 600, 4572, 1092), command1(1080, 240, 2292, 252), cmdright(4800, 360, 252, 1332),
        list1(5160, 120, 1812, 1584), txt1(3480, 240, 252, 288);
    QTest::newRow("datalog") << "0"
                             << "datalog" << datalog << true;
    QTest::newRow("Command1") << "0"
                              << "Command1" << command1 << true;
    QTest::newRow("cmdright") << "0"
                              << "cmdright" << cmdright << true;
    QTest::newRow("List1 out of view when narrow") << "0"
                                                   << "List1" << list1 << false;
    QTest::newRow("Txt1 never drawn") << "0"
                                      << "Txt1" << txt1 << false;
    QTest::newRow("List1 when wide") << "1"
                                     << "List1" << list1 << true;
    QTest::newRow("datalog when wide") << "1"
                                       << "datalog" << datalog << true;
}

void ScreenTest::drawnWhereTheTwipsSay() {
    QFETCH(QString, slide);
    QFETCH(QString, control);
    QFETCH(QRectF, twips);
    QFETCH(bool, drawn);
    slideTo(slide.toLatin1().constData());
    auto* widget = form_->findChild<QWidget*>(control);
    QVERIFY(widget != nullptr);
    const QRect at = twipsRect(twips.x(), twips.y(), twips.width(), twips.height(), form_->logicalDpiX());
    const QImage own = widget->grab().toImage();
    if (drawn) {
        QTRY_VERIFY2_WITH_TIMEOUT(difference(screenOf(at), own) < 0.02, qPrintable(control + " not drawn at its place"),
                                  kPatience);
        // One pixel off is already told apart.
        QVERIFY(difference(screenOf(at.translated(1, 1)), own) > 0.02);
    } else {
        QVERIFY(difference(screenOf(at), own) > 0.5);
    }
}

// Clicks the slide button and lets the real timers run the slide to its end.
void ScreenTest::slideTo(const char* state) {
    auto* txt1 = form_->findChild<QLineEdit*>("Txt1");
    if (txt1->text() != state) form_->findChild<QPushButton*>("cmdright")->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        !form_->findChild<QTimer*>("Timer1")->isActive() && !form_->findChild<QTimer*>("Timer2")->isActive(),
        kPatience);
    // The last step painted: the screen shows what the window draws now.
    QWidget* client = form_->centralWidget();
    QTRY_VERIFY_WITH_TIMEOUT(difference(screenOf(client->rect()), client->grab().toImage()) == 0, kPatience);
}

// What the X server shows of the rectangle `clientRect` of the client area.
QImage ScreenTest::screenOf(const QRect& clientRect) {
    const QPoint origin = form_->centralWidget()->mapToGlobal(QPoint(0, 0));
    const QRect global = clientRect.translated(origin);
    return form_->screen()->grabWindow(0, global.x(), global.y(), global.width(), global.height()).toImage();
}

QTEST_MAIN(ScreenTest)
#include "screen_test.moc"
