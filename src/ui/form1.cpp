#include "ui/form1.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <map>

#include "app/layout.hpp"
#include "ui/appicon.hpp"
#include "ui/menus.hpp"
#include "ui/paths.hpp"

namespace v2bsp::ui {

namespace {

const app::Control& row(std::string_view name) {
    return *app::findControl(app::kForm1, name);
}

// The first local file among the dropped items, or empty.
QString droppedMap(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls()) return {};
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) return url.toLocalFile();
    }
    return {};
}

}  // namespace

Form1::Form1(QWidget* parent)
    : QMainWindow(parent),
      dpi_(logicalDpiX() > 0 ? logicalDpiX() : 96),
      behaviour_(*this, std::make_unique<FileDialogOpenBox>(this), std::make_unique<MessageBoxPresenter>(this), [this] {
          QMetaObject::invokeMethod(
              this, [this] { behaviour_.runWoken(); }, Qt::QueuedConnection);
      }) {
    behaviour_.setOutput({localPath(QCoreApplication::applicationDirPath()), app::posixSystemFolders(), nullptr});
    createControls();
    placeControls();
    createMenus();
    createTimers();
    setTabOrder();
    setStartState();
}

Form1::~Form1() = default;

void Form1::createControls() {
    setObjectName("Form1");
    setWindowTitle(text(app::kForm1.caption));
    setWindowIcon(appIcon());
    // The window has one size: no maximize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont small = font();
    small.setPointSizeF(app::kForm1.fontPoints);
    setFont(small);
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName("client");
    setCentralWidget(client);

    datalog = new QPlainTextEdit(client);
    datalog->setLineWrapMode(QPlainTextEdit::NoWrap);
    datalog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    datalog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The log only grows; undoing a log line would make no sense.
    datalog->setUndoRedoEnabled(false);
    datalog->setAcceptDrops(false);
    // A tab in the log is of no use; Tab moves on, so Extract can be reached.
    datalog->setTabChangesFocus(true);
    Command1 = new QPushButton(text(row("Command1").caption), client);
    cmdright = new QPushButton(text(row("cmdright").caption), client);
    List1 = new QListWidget(client);
    Txt1 = new QLineEdit(text(row("Txt1").caption), client);
    datalog->setObjectName("datalog");
    Command1->setObjectName("Command1");
    cmdright->setObjectName("cmdright");
    List1->setObjectName("List1");
    Txt1->setObjectName("Txt1");
    connect(Command1, &QPushButton::clicked, this, [this] { behaviour_.click("Command1"); });
    connect(cmdright, &QPushButton::clicked, this, [this] { behaviour_.click("cmdright"); });
}

QWidget* Form1::named(std::string_view name) const {
    return centralWidget()->findChild<QWidget*>(text(name), Qt::FindDirectChildrenOnly);
}

// Each control with a place in the layout, at that place.
void Form1::placeControls() {
    for (const app::Control& control : app::kForm1.controls) {
        QWidget* widget = named(control.name);
        if (widget == nullptr) continue;
        const app::Rect at = app::pixelRect(control.place, dpi_);
        widget->setGeometry(at.x, at.y, at.width, at.height);
    }
}

void Form1::createMenus() {
    addMenuRows(*menuBar(), app::kForm1.menu, [this](std::string_view name) { behaviour_.menu(name); });
}

void Form1::createTimers() {
    for (QTimer** timer : {&Timer1, &Timer2}) {
        *timer = new QTimer(this);
        (*timer)->setTimerType(Qt::PreciseTimer);
    }
    Timer1->setObjectName("Timer1");
    Timer2->setObjectName("Timer2");
    Timer1->setInterval(row("Timer1").intervalMs);
    Timer2->setInterval(row("Timer2").intervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] { behaviour_.timer("Timer1"); });
    connect(Timer2, &QTimer::timeout, this, [this] { behaviour_.timer("Timer2"); });
    takeTimer_ = new QTimer(this);
    takeTimer_->setSingleShot(true);
    connect(takeTimer_, &QTimer::timeout, this, [this] { behaviour_.takeRunEvents(); });
}

// The controls that take focus, in their tab order.
void Form1::setTabOrder() {
    std::vector<const app::Control*> order;
    for (const app::Control& control : app::kForm1.controls) {
        if (control.tabIndex >= 0) order.push_back(&control);
    }
    std::sort(order.begin(), order.end(),
              [](const app::Control* a, const app::Control* b) { return a->tabIndex < b->tabIndex; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(named(order[i - 1]->name), named(order[i]->name));
}

void Form1::setStartState() {
    for (const app::Control& control : app::kForm1.controls) {
        QWidget* widget = named(control.name);
        if (widget == nullptr) continue;
        widget->setEnabled(control.enabled);
        if (!control.visible) widget->setVisible(false);
    }
    setFixedHeight(menuBar()->sizeHint().height() + app::twipsToPixels(app::kForm1.clientHeight, dpi_));
    behaviour_.begin();
}

void Form1::setOutputParent(const QString& folder) {
    behaviour_.setProgramFolder(localPath(folder));
}

void Form1::setGlProbe(GlProbe probe) {
    glProbe_ = std::move(probe);
    // A 3D window made before and never shown is made again with this probe.
    if (behaviour_.forgetUnshownLevel3D()) {
        view3d_.reset();
    }
}

void Form1::setText(std::string_view control, std::string_view shown) {
    QWidget* widget = named(control);
    if (auto* button = qobject_cast<QPushButton*>(widget)) button->setText(text(shown));
    if (auto* box = qobject_cast<QLineEdit*>(widget)) box->setText(text(shown));
}

void Form1::setEnabled(std::string_view name, bool enabled) {
    if (QWidget* widget = named(name)) {
        widget->setEnabled(enabled);
    } else if (auto* action = findChild<QAction*>(text(name))) {
        action->setEnabled(enabled);
    }
}

void Form1::setChecked(std::string_view item, bool checked) {
    auto* action = findChild<QAction*>(text(item));
    if (action == nullptr) return;
    const QSignalBlocker quiet(action);
    action->setChecked(checked);
}

void Form1::setTabStop(std::string_view control, bool on) {
    if (QWidget* widget = named(control)) widget->setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
}

// The width is kept in twips by the slide rather than read back from the
// window, which holds it in whole pixels.
void Form1::setOuterWidth(double twips) {
    setFixedWidth(app::clientPixels(app::kForm1, twips, dpi_));
}

void Form1::runTimer(std::string_view timer, bool on) {
    QTimer* which = timer == "Timer1" ? Timer1 : Timer2;
    if (on) {
        which->start();
    } else {
        which->stop();
    }
}

// After whatever the log holds, the user's typing included, with the caret
// at the very end, which scrolls it into view.
void Form1::appendLog(std::string_view lines) {
    QTextCursor end = datalog->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(text(lines));
    datalog->setTextCursor(end);
}

void Form1::addTagNames(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        auto* item = new QListWidgetItem(text(name));
        // The list is narrow; the tooltip shows the whole name.
        item->setToolTip(item->text());
        List1->addItem(item);
    }
}

void Form1::wakeAfter(std::chrono::milliseconds delay) {
    takeTimer_->start(static_cast<int>(delay.count()));
}

app::Level3DWindow* Form1::makeLevel3DWindow() {
    if (view3d_ == nullptr) {
        view3d_ = std::make_unique<View3D>(glProbe_);
        // Closed by the user, it is no longer checked.
        connect(view3d_.get(), &View3D::closed, this, [this] { behaviour_.level3DClosed(); });
        view3d_->winId();
    }
    // Its frame is not known before it is shown: this window's stands in for it.
    const QRect frame = frameGeometry(), client = geometry();
    view3d_->setFrameGuess({client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                            frame.bottom() - client.bottom()});
    return view3d_.get();
}

app::Form1Frames Form1::frames() const {
    const QRect room = screen() != nullptr ? screen()->availableGeometry() : QRect(), frame = frameGeometry();
    return {{room.x(), room.y(), room.width(), room.height()},
            {frame.x(), frame.y(), frame.width(), frame.height()},
            width(),
            dpi_};
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!behaviour_.closeRequested()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// Once this window is on the screen, the program waits for the user.
void Form1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (view3dAsked_) return;
    view3dAsked_ = true;
    QTimer::singleShot(0, this, [this] { behaviour_.firstShown(); });
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!running() && !droppedMap(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    chooseMap(droppedMap(event->mimeData()));
    event->acceptProposedAction();
}

}  // namespace v2bsp::ui
