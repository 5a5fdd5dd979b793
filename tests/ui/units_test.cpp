// The window's small units: twips to pixels and the command line.
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
};

void UnitsTest::twipsToPixels_data() {
    QTest::addColumn<double>("dpi");
    QTest::addColumn<double>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("an inch at 96") << 96.0 << 1440.0 << 96;
    QTest::newRow("slide step at 120 is one pixel") << 120.0 << 12.0 << 1;
    QTest::newRow("client width at 96") << 96.0 << 5088.0 << 339;   // 339.2
    QTest::newRow("button height at 96") << 96.0 << 252.0 << 17;     // 16.8
    QTest::newRow("wide client at 144") << 144.0 << 7128.0 << 713;   // 712.8
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
    QTest::newRow("two maps") << QStringList{"a.map", "b.map"} << A::usageerror << "" << false;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << A::usageerror << "" << false;
    QTest::newRow("empty name") << QStringList{""} << A::usageerror << "" << false;
}

void UnitsTest::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(StartRequest::Action, action);
    QFETCH(QString, map);
    QFETCH(bool, textOnly);
    std::vector<std::string> list;
    for (const QString& arg : args) list.push_back(arg.toStdString());
    const StartRequest request = v2bsp::ui::parsecommandline(list);
    QCOMPARE(request.action, action);
    QCOMPARE(QString::fromStdString(request.map), map);
    QCOMPARE(request.error.empty(), action != StartRequest::Action::usageerror);
    QCOMPARE(v2bsp::ui::wantstextonly(list), textOnly);
}

QTEST_GUILESS_MAIN(UnitsTest)
#include "units_test.moc"
