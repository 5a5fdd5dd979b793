#include "ui/form1.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <map>

#include "app/layout.hpp"
#include "app/outputpolicy.hpp"
#include "app/placement.hpp"
#include "app/texts.hpp"
#include "ui/appicon.hpp"
#include "ui/commandline.hpp"
#include "ui/paths.hpp"

using namespace v2bsp::ui;
namespace app = v2bsp::app;

namespace {

// How long Extract waits for the run's first line, which the run writes
// before any work.
constexpr std::chrono::seconds kFirstLineWait{2};

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

void runTimer(QTimer* timer, bool on) {
    if (on && !timer->isActive()) timer->start();
    if (!on && timer->isActive()) timer->stop();
}

}  // namespace

Form1::Form1(QWidget* parent)
    : QMainWindow(parent),
      twips_(logicalDpiX()),
      run_([this] { QMetaObject::invokeMethod(this, &Form1::runWoken, Qt::QueuedConnection); }) {
    createControls();
    placeControls();
    createMenus();
    createTimers();
    setTabOrder();
    setStartState();
    connectActions();
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

    openbox = std::make_unique<FileDialogOpenBox>(this);
    messages_ = std::make_unique<MessageBoxPresenter>(this);
    outputParent_ = QCoreApplication::applicationDirPath();
}

// Each control with a place in the layout, at that place.
void Form1::placeControls() {
    for (const app::Control& control : app::kForm1.controls) {
        auto* widget = centralWidget()->findChild<QWidget*>(text(control.name), Qt::FindDirectChildrenOnly);
        if (widget == nullptr) continue;
        const app::Rect at = app::pixelRect(control.place, twips_.dpi());
        widget->setGeometry(at.x, at.y, at.width, at.height);
    }
}

void Form1::createMenus() {
    std::map<std::string_view, QMenu*> menus;
    for (const app::MenuItem& item : app::kForm1.menu) {
        if (item.parent.empty()) {
            QMenu* menu = menuBar()->addMenu(text(item.caption));
            menu->setObjectName(text(item.name));
            menus[item.name] = menu;
            continue;
        }
        QAction* action = menus.at(item.parent)->addAction(text(item.caption));
        action->setObjectName(text(item.name));
        action->setShortcut(QKeySequence(text(item.shortcut)));
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
    }
    mnufile = menus.at("mnufile");
    mnuview = menus.at("mnuview");
    mnuhelp = menus.at("mnuhelp");
    mnuopen = findChild<QAction*>("mnuopen");
    mnuexit = findChild<QAction*>("mnuexit");
    mnu3dwindow = findChild<QAction*>("mnu3dwindow");
    mnuabout = findChild<QAction*>("mnuabout");
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
    takeTimer_ = new QTimer(this);
    takeTimer_->setSingleShot(true);
}

// The controls that take focus, in their tab order.
void Form1::setTabOrder() {
    std::vector<const app::Control*> order;
    for (const app::Control& control : app::kForm1.controls) {
        if (control.tabIndex >= 0) order.push_back(&control);
    }
    std::sort(order.begin(), order.end(),
              [](const app::Control* a, const app::Control* b) { return a->tabIndex < b->tabIndex; });
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(centralWidget()->findChild<QWidget*>(text(order[i - 1]->name)),
                             centralWidget()->findChild<QWidget*>(text(order[i]->name)));
    }
}

void Form1::setStartState() {
    for (const app::Control& control : app::kForm1.controls) {
        auto* widget = centralWidget()->findChild<QWidget*>(text(control.name), Qt::FindDirectChildrenOnly);
        if (widget == nullptr) continue;
        widget->setEnabled(control.enabled);
        if (!control.visible) widget->setVisible(false);
    }
    setFixedHeight(menuBar()->sizeHint().height() + twips_.pixels(app::kForm1.clientHeight));
    applySlide();
}

// Exit is a close, direct wherever it is triggered: on another thread (a
// seam of the tests' runs calls it there) the window system hands the close
// to the window's thread and waits for it, so the run stops at its next line.
void Form1::connectActions() {
    connect(mnuopen, &QAction::triggered, this, &Form1::mnuopen_Click);
    connect(mnuexit, &QAction::triggered, this, &QWidget::close, Qt::DirectConnection);
    connect(mnu3dwindow, &QAction::toggled, this, &Form1::show3dWindow);
    connect(mnuabout, &QAction::triggered, this, &Form1::showAbout);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(cmdright, &QPushButton::clicked, this, &Form1::cmdright_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(takeTimer_, &QTimer::timeout, this, &Form1::takeRunEvents);
}

void Form1::setOpenBox(std::unique_ptr<OpenBox> box) {
    openbox = std::move(box);
}

void Form1::setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) {
    messages_ = std::move(presenter);
}

void Form1::setOutputParent(const QString& folder) {
    outputParent_ = folder;
}

void Form1::setOutputFiles(v2bsp::OutputFiles* files) {
    files_ = files;
}

void Form1::setGlProbe(GlProbe probe) {
    glProbe_ = std::move(probe);
    // A 3D window made before and never shown is made again with this probe.
    if (!view3dPlaced_) view3d_.reset();
}

void Form1::chooseMap(const QString& path) {
    if (running_) return;
    mappath_ = path;
    const std::string local = localPath(path).string();
    std::error_code ignored;
    const auto status = std::filesystem::status(local, ignored);
    if (std::filesystem::is_regular_file(status)) {
        Command1->setEnabled(true);
        return;
    }
    Command1->setEnabled(false);
    using Kind = v2bsp::MapErrorKind;
    const v2bsp::MapError refused =
        !std::filesystem::exists(status)
            ? v2bsp::MapError::file(Kind::cannotOpen, local, std::make_error_code(std::errc::no_such_file_or_directory))
        : std::filesystem::is_directory(status) ? v2bsp::MapError::file(Kind::folder, local)
                                                : v2bsp::MapError::file(Kind::notRegular, local);
    refuse(text(v2bsp::kNotAMapMessage), QString::fromStdString(refused.what()));
}

// The box, then the same reason in the log, where it stays once the box is gone.
void Form1::refuse(const QString& message, const QString& reason) {
    messages_->notAMap(message, reason);
    logline(app::notAMapLine(message.toStdString(), reason.toStdString()));
}

// File > Open.
void Form1::mnuopen_Click() {
    openbox->setFileName(QString());
    openbox->setFilter(QStringLiteral("%1;;%2").arg(kMapFilter, kAllFilesFilter));
    openbox->showOpen();
    mappath_ = openbox->fileName();
    Command1->setEnabled(true);
}

// Extract. The run's first line shows before the window handles anything
// else, as it did when the window ran the extraction itself; then the window
// answers through a loop of its own until the run has ended.
void Form1::Command1_Click() {
    if (running_) return;
    Command1->setEnabled(false);
    beginRun();
    app::RunRequest request;
    request.path = QFile::encodeName(mappath_).toStdString();
    request.settings = runSettings();
    request.decodeLevel = mnu3dwindow->isChecked();
    run_.start(std::move(request));
    run_.waitForEvents(kFirstLineWait);
    takeRunEvents();
    if (!running_) return;
    // Else the 3D window is made while the run goes and shown once it ends.
    if (mnu3dwindow->isChecked()) makeView3d();
    QEventLoop loop;
    runLoop_ = &loop;
    loop.exec();
    runLoop_ = nullptr;
}

// The run has something new. It is taken at most every few milliseconds, so
// that a run of thousands of lines wakes the window a few times, not
// thousands; no other wake comes until it is taken, but for the run's end,
// which is taken at once.
void Form1::runWoken() {
    const qint64 interval = std::chrono::milliseconds(app::kYieldInterval).count();
    const qint64 since = sinceTaken_.isValid() ? sinceTaken_.elapsed() : interval;
    if (since >= interval || run_.endQueued()) {
        takeRunEvents();
    } else if (!takeTimer_->isActive()) {
        takeTimer_->start(static_cast<int>(interval - since));
    }
}

// What the run queued, shown in the log at once; the rest after the
// window's own events.
void Form1::takeRunEvents() {
    sinceTaken_.start();
    takeTimer_->stop();
    if (run_.deliver(*this)) QMetaObject::invokeMethod(this, &Form1::takeRunEvents, Qt::QueuedConnection);
    showPendingLog();
}

void Form1::runEnded(app::RunEnd end) {
    lastResult_ = end.result;
    const bool toitsend = end.toItsEnd();
    if (toitsend) {
        extraction_ = std::move(end.extraction);
        levelResult_ = lastResult_;
        ++runsToTheEnd_;
        logline(app::wroteLine(lastResult_, groupSeparator()));
    }
    endRun();
    if (runLoop_ != nullptr) runLoop_->quit();
    if (toitsend && !closeWhenStopped_ && mnu3dwindow->isChecked()) showLevel(std::move(end.level));
}

// The slide button and the slide's two timers: the slide decides, the
// window shows.
void Form1::cmdright_Click() {
    slide_.click();
    applySlide();
}

void Form1::Timer1_Timer() {
    slide_.wideningTick();
    applySlide();
}

void Form1::Timer2_Timer() {
    slide_.narrowingTick();
    applySlide();
}

void Form1::applySlide() {
    cmdright->setText(text(slide_.caption()));
    Txt1->setText(text(slide_.state()));
    runTimer(Timer1, slide_.runs() == app::Slide::Timer::widening);
    runTimer(Timer2, slide_.runs() == app::Slide::Timer::narrowing);
    setOuterWidth(slide_.outerWidth());
}

// The width is kept in twips by the slide rather than read back from the
// window, which holds it in whole pixels.
void Form1::setOuterWidth(double twips) {
    setFixedWidth(app::clientPixels(app::kForm1, twips, twips_.dpi()));
}

// During a run, lines are gathered and put into the log as the window takes
// them, at most every few milliseconds, so a line costs the same however
// long the log is. Outside a run every line shows at once.
void Form1::logline(std::string_view line) {
    pendingLog_.append(text(line));
    pendingLog_.append(QStringLiteral("\r\n"));
    if (!running_) showPendingLog();
}

// Appends the gathered lines after whatever the log holds, the user's typing
// included, and puts the caret at the very end, which scrolls it into view.
void Form1::showPendingLog() {
    if (pendingLog_.isEmpty()) return;
    QTextCursor end = datalog->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(pendingLog_);
    pendingLog_.clear();
    datalog->setTextCursor(end);
}

// Checked again, the 3D window comes back as it was left when it still
// shows the last run; else it shows that run afresh.
void Form1::show3dWindow(bool shown) {
    if (!shown) {
        if (view3d_ != nullptr) view3d_->hide();
        return;
    }
    if (extraction_ == nullptr) return;
    if (view3d_ == nullptr || shownRun_ != runsToTheEnd_) {
        showLevel();
        return;
    }
    view3d_->show();
    view3d_->raise();
    view3d_->activateWindow();
}

// Made with its window on the screen's side, not yet shown.
void Form1::makeView3d() {
    if (view3d_ != nullptr) return;
    view3d_ = std::make_unique<View3D>(glProbe_);
    // Closed by the user, it is no longer checked.
    connect(view3d_.get(), &View3D::closed, mnu3dwindow, [this] { mnu3dwindow->setChecked(false); });
    view3d_->winId();
}

void Form1::showLevel(std::optional<app::LevelGeometry> decoded) {
    makeView3d();
    const bool first = !view3dPlaced_;
    view3dPlaced_ = true;
    view3d_->showRun(*extraction_, levelResult_, std::move(decoded));
    shownRun_ = runsToTheEnd_;
    if (first) placeView3d();
    view3d_->show();
    view3d_->raise();
    // The window manager's frame of a resizable window may be larger than
    // this window's; once it is known, what lies past the area moves back in.
    if (first) QTimer::singleShot(kFrameKnownMs, view3d_.get(), [this] { keepView3dInside(); });
}

void Form1::keepView3dInside() {
    if (view3d_ == nullptr || view3d_->screen() == nullptr) return;
    const QRect room = view3d_->screen()->availableGeometry(), frame = view3d_->frameGeometry();
    if (room.contains(frame)) return;
    const QSize client =
        view3d_->size() - QSize(std::max(0, frame.width() - room.width()), std::max(0, frame.height() - room.height()));
    view3d_->resize(client);
    const QRect fitted(frame.topLeft(), frame.size().boundedTo(room.size()));
    view3d_->move(std::clamp(fitted.x(), room.left(), room.right() + 1 - fitted.width()),
                  std::clamp(fitted.y(), room.top(), room.bottom() + 1 - fitted.height()));
}

// Beside this window with its slide open where there is room, else as it is
// now, inside the screen's available area (the rule is app::placeView's). The
// 3D window's frame is not known before it is shown; this window's is taken
// for it.
void Form1::placeView3d() {
    if (screen() == nullptr) return;
    const QRect frame = frameGeometry(), client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    const int widest = app::clientPixels(app::kForm1, app::kSlideWidest, twips_.dpi());
    const app::Rect current{frame.x(), frame.y(), frame.width(), frame.height()};
    const app::FormFrames form{current,
                               {current.x, current.y, current.width + std::max(0, widest - width()), current.height}};
    const QRect room = screen()->availableGeometry();
    const double scale = twips_.dpi() / 96;
    const app::Size preferred{static_cast<int>(View3D::kPreferredWidth * scale) + margins.left() + margins.right(),
                              static_cast<int>(View3D::kPreferredHeight * scale) + margins.top() + margins.bottom()};
    constexpr int kGap = 8;
    const app::Rect at = app::placeView({room.x(), room.y(), room.width(), room.height()}, form, preferred, kGap);
    view3d_->resize(at.width - margins.left() - margins.right(), at.height - margins.top() - margins.bottom());
    view3d_->move(at.x, at.y);
}

void Form1::showAbout() {
    messages_->about(v2bsp::app::kAboutTitle, QString::fromStdString(app::aboutText()));
}

void Form1::announce3dwindow() {
    logline("Initializing 3D Window...");
}

void Form1::addTagName(std::string_view name) {
    auto* item = new QListWidgetItem(text(name));
    // The list is narrow; the tooltip shows the whole name.
    item->setToolTip(item->text());
    List1->addItem(item);
}

// The log is up to date when the box shows.
void Form1::mapFailed(const v2bsp::MapFailure& failure) {
    showPendingLog();
    refuse(QString::fromStdString(failure.message), QString::fromStdString(failure.reason));
}

void Form1::beginRun() {
    running_ = true;
    closeWhenStopped_ = false;
    mnuopen->setEnabled(false);
    sinceTaken_.invalidate();
}

void Form1::endRun() {
    running_ = false;
    showPendingLog();
    mnuopen->setEnabled(true);
    if (closeWhenStopped_) close();
}

v2bsp::ExtractSettings Form1::runSettings() const {
    return app::windowRunSettings(localPath(outputParent_), localPath(mappath_), app::posixSystemFolders(), files_);
}

// Closing during a run ends the run at its next log line; the window closes
// when the run has ended.
void Form1::closeEvent(QCloseEvent* event) {
    if (running_) {
        closeWhenStopped_ = true;
        run_.stop();
        event->ignore();
        return;
    }
    Timer1->stop();
    Timer2->stop();
    if (view3d_ != nullptr) view3d_->close();
    QMainWindow::closeEvent(event);
}

// Once this window is on the screen, the 3D window is made while the program
// waits for the user, so that a run's first picture does not wait for it.
void Form1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (view3dAsked_) return;
    view3dAsked_ = true;
    QTimer::singleShot(0, this, [this] {
        if (mnu3dwindow->isChecked()) makeView3d();
    });
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !droppedMap(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    chooseMap(droppedMap(event->mimeData()));
    event->acceptProposedAction();
}
