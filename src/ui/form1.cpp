#include "ui/form1.hpp"
#include "ui/commandline.hpp"

#include <algorithm>
#include <thread>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
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
#include <cerrno>

#include "app/placement.hpp"
#include "app/texts.hpp"
#include "ui/appicon.hpp"
#include "ui/paths.hpp"

using namespace v2bsp::ui;

namespace {

struct Place {
    double left, top, width, height;
};

constexpr Place kDatalog{120, 600, 4572, 1092};
constexpr Place kCommand1{1080, 240, 2292, 252};
constexpr Place kCmdright{4800, 360, 252, 1332};
constexpr Place kList1{5160, 120, 1812, 1584};
constexpr Place kTxt1{3480, 240, 252, 288};

// Small enough that "Extract" fits its 252-twip-high button at any dpi.
constexpr double kFontPoints = 8;

QRect place(const Twips& twips, const Place& p) {
    return twips.rect(p.left, p.top, p.width, p.height);
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

Form1::Form1(QWidget* parent) : QMainWindow(parent), twips_(logicalDpiX()) {
    createControls();
    placeControls();
    createMenus();
    createTimers();
    setTabOrder();
    setShortcuts();
    setStartState();
    connectActions();
}

Form1::~Form1() = default;

void Form1::createControls() {
    setObjectName("Form1");
    setWindowTitle(kCaption);
    setWindowIcon(appIcon());
    // The window has one size: no maximize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont small = font();
    small.setPointSizeF(kFontPoints);
    setFont(small);
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName("client");
    setCentralWidget(client);

    datalog = new QPlainTextEdit(client);
    datalog->setObjectName("datalog");
    datalog->setLineWrapMode(QPlainTextEdit::NoWrap);
    datalog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    datalog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The log only grows; undoing a log line would make no sense.
    datalog->setUndoRedoEnabled(false);
    datalog->setAcceptDrops(false);
    // A tab in the log is of no use; Tab moves on, so Extract can be reached.
    datalog->setTabChangesFocus(true);

    Command1 = new QPushButton("Extract", client);
    Command1->setObjectName("Command1");
    cmdright = new QPushButton(">", client);
    cmdright->setObjectName("cmdright");
    List1 = new QListWidget(client);
    List1->setObjectName("List1");
    Txt1 = new QLineEdit(client);
    Txt1->setObjectName("Txt1");

    openbox = std::make_unique<FileDialogOpenBox>(this);
    messages_ = std::make_unique<MessageBoxPresenter>(this);
    outputParent_ = QCoreApplication::applicationDirPath();
}

void Form1::placeControls() {
    datalog->setGeometry(place(twips_, kDatalog));
    Command1->setGeometry(place(twips_, kCommand1));
    cmdright->setGeometry(place(twips_, kCmdright));
    List1->setGeometry(place(twips_, kList1));
    Txt1->setGeometry(place(twips_, kTxt1));
}

void Form1::createMenus() {
    mnufile = menuBar()->addMenu("&File");
    mnufile->setObjectName("mnufile");
    mnuopen = mnufile->addAction("Open");
    mnuopen->setObjectName("mnuopen");
    mnuexit = mnufile->addAction("Exit");
    mnuexit->setObjectName("mnuexit");
    mnuview = menuBar()->addMenu("&View");
    mnuview->setObjectName("mnuview");
    mnu3dwindow = mnuview->addAction("3D Window");
    mnu3dwindow->setObjectName("mnu3dwindow");
    mnu3dwindow->setCheckable(true);
    mnu3dwindow->setChecked(true);
    mnuhelp = menuBar()->addMenu("&Help");
    mnuhelp->setObjectName("mnuhelp");
    mnuabout = mnuhelp->addAction("About v2bsp");
    mnuabout->setObjectName("mnuabout");
}

void Form1::createTimers() {
    for (QTimer** timer : {&Timer1, &Timer2}) {
        *timer = new QTimer(this);
        (*timer)->setInterval(1);
        (*timer)->setTimerType(Qt::PreciseTimer);
    }
    Timer1->setObjectName("Timer1");
    Timer2->setObjectName("Timer2");
}

void Form1::setTabOrder() {
    QWidget::setTabOrder(datalog, Command1);
    QWidget::setTabOrder(Command1, cmdright);
    QWidget::setTabOrder(cmdright, List1);
    QWidget::setTabOrder(List1, Txt1);
}

void Form1::setShortcuts() {
    mnuopen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuexit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void Form1::setStartState() {
    Command1->setEnabled(false);
    Txt1->setText("0");
    Txt1->setVisible(false);
    setFixedHeight(menuBar()->sizeHint().height() + twips_.pixels(kClientHeight));
    setOuterWidth(kNarrowWidth);
}

void Form1::connectActions() {
    connect(mnuopen, &QAction::triggered, this, &Form1::mnuopen_Click);
    connect(mnuexit, &QAction::triggered, this, &QWidget::close);
    connect(mnu3dwindow, &QAction::toggled, this, &Form1::show3dWindow);
    connect(mnuabout, &QAction::triggered, this, &Form1::showAbout);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(cmdright, &QPushButton::clicked, this, &Form1::cmdright_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
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
        !std::filesystem::exists(status)        ? v2bsp::MapError::file(Kind::cannotOpen, local, std::make_error_code(std::errc::no_such_file_or_directory))
        : std::filesystem::is_directory(status) ? v2bsp::MapError::file(Kind::folder, local)
                                                : v2bsp::MapError::file(Kind::notRegular, local);
    refuse(QString::fromUtf8(v2bsp::kNotAMapMessage.data(), static_cast<qsizetype>(v2bsp::kNotAMapMessage.size())),
           QString::fromStdString(refused.what()));
}

// The box, then the same reason in the log, where it stays once the box is gone.
void Form1::refuse(const QString& message, const QString& reason) {
    messages_->notAMap(message, reason);
    logline(v2bsp::app::notAMapLine(message.toStdString(), reason.toStdString()));
}

// File > Open.
void Form1::mnuopen_Click() {
    openbox->setFileName(QString());
    openbox->setFilter(QStringLiteral("%1;;%2").arg(kMapFilter, kAllFilesFilter));
    openbox->showOpen();
    mappath_ = openbox->fileName();
    Command1->setEnabled(true);
}

// Extract.
void Form1::Command1_Click() {
    Command1->setEnabled(false);
    const std::string path = QFile::encodeName(mappath_).toStdString();
    beginRun();
    auto extraction = std::make_unique<v2bsp::MapExtraction>();
    lastResult_ = extraction->extractmap(path, *this, runSettings());
    const bool toitsend =
        lastResult_.status == v2bsp::ExtractStatus::complete || lastResult_.status == v2bsp::ExtractStatus::incomplete;
    // Before `extraction` may end: the decoding reads its plan.
    std::optional<LevelGeometry> decoded = decodedLevel(toitsend && !closeWhenStopped_);
    if (toitsend) {
        extraction_ = std::move(extraction);
        levelResult_ = lastResult_;
        ++runsToTheEnd_;
        logline(v2bsp::app::wroteLine(lastResult_, QLocale().groupSeparator().toStdString()));
    }
    endRun();
    if (toitsend && !closeWhenStopped_ && mnu3dwindow->isChecked()) showLevel(std::move(decoded));
}

void Form1::meshesPlanned(const v2bsp::MeshPlan& plan) {
    if (!mnu3dwindow->isChecked()) return;
    stopDecoding_ = false;
    decoding_ = std::async(std::launch::async, [this, &plan] { return levelGeometry(plan, &stopDecoding_); });
}

// The level decoded during the run, when it is `wanted`; else the decoding
// is told to stop, and its end awaited all the same.
std::optional<LevelGeometry> Form1::decodedLevel(bool wanted) {
    if (!decoding_.valid()) return std::nullopt;
    if (!wanted) stopDecoding_ = true;
    LevelGeometry level = decoding_.get();
    if (!wanted) return std::nullopt;
    return level;
}

// The slide button. A click during a slide stops it before starting the other
// way, so the slide reverses instead of two timers undoing each other.
void Form1::cmdright_Click() {
    if (Txt1->text() == "0") {
        Timer2->stop();
        cmdright->setText("<");
        Txt1->setText("1");
        Timer1->start();
    } else if (Txt1->text() == "1") {
        Timer1->stop();
        cmdright->setText(">");
        Txt1->setText("0");
        Timer2->start();
    }
}

// Widening tick. The tick that reaches the limit still takes its step.
void Form1::Timer1_Timer() {
    cmdright->setText("<");
    if (outerWidth_ >= kWideLimit) Timer1->stop();
    setOuterWidth(outerWidth_ + kSlideStep);
}

// Narrowing tick.
void Form1::Timer2_Timer() {
    if (outerWidth_ <= kNarrowWidth) Timer2->stop();
    setOuterWidth(outerWidth_ - kSlideStep);
}

// The width is kept here in twips rather than read back from the window,
// which holds it in whole pixels.
void Form1::setOuterWidth(double twips) {
    outerWidth_ = twips;
    setFixedWidth(twips_.pixels(twips - kFrameWidth));
}

// During a run, lines are gathered and put into the log when the window next
// handles its events, so a line costs the same however long the log is, and
// the log is painted at most every few milliseconds. Outside a run every line
// shows at once. Either way the user never sees the log without its lines.
void Form1::logline(std::string_view text) {
    pendingLog_.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    pendingLog_.append(QStringLiteral("\r\n"));
    if (running_ && sinceYield_.isValid() && sinceYield_.elapsed() < kYieldIntervalMs) return;
    showPendingLog();
    QCoreApplication::processEvents();
    sinceYield_.start();
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

void Form1::showLevel(std::optional<LevelGeometry> decoded) {
    const bool first = view3d_ == nullptr;
    if (first) {
        view3d_ = std::make_unique<View3D>(glProbe_);
        // Closed by the user, it is no longer checked.
        connect(view3d_.get(), &View3D::closed, mnu3dwindow, [this] { mnu3dwindow->setChecked(false); });
    }
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

// Beside this window at its widest, inside the screen's available area. The
// 3D window's frame is not known before it is shown; this window's is taken
// for it.
void Form1::placeView3d() {
    if (screen() == nullptr) return;
    const QRect frame = frameGeometry(), client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    const int widest = twips_.pixels(kWideLimit + kSlideStep - kFrameWidth);
    const v2bsp::app::Rect form{frame.x(), frame.y(), frame.width() + std::max(0, widest - width()), frame.height()};
    const QRect room = screen()->availableGeometry();
    const double scale = twips_.dpi() / 96;
    const v2bsp::app::Size preferred{
        static_cast<int>(View3D::kPreferredWidth * scale) + margins.left() + margins.right(),
        static_cast<int>(View3D::kPreferredHeight * scale) + margins.top() + margins.bottom()};
    constexpr int kGap = 8;
    const v2bsp::app::Rect at =
        v2bsp::app::placeView({room.x(), room.y(), room.width(), room.height()}, form, preferred, kGap);
    view3d_->resize(at.width - margins.left() - margins.right(), at.height - margins.top() - margins.bottom());
    view3d_->move(at.x, at.y);
}

void Form1::showAbout() {
    messages_->about(QStringLiteral("About v2bsp"), QString::fromStdString(v2bsp::app::aboutText()));
}

void Form1::announce3dwindow() {
    logline("Initializing 3D Window...");
}

void Form1::addTagName(std::string_view name) {
    auto* item = new QListWidgetItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    // The list is narrow; the tooltip shows the whole name.
    item->setToolTip(item->text());
    List1->addItem(item);
}

void Form1::mapFailed(const v2bsp::MapFailure& failure) {
    showPendingLog();
    refuse(QString::fromStdString(failure.message), QString::fromStdString(failure.reason));
}

bool Form1::keepGoing() {
    return !closeWhenStopped_;
}

void Form1::beginRun() {
    running_ = true;
    closeWhenStopped_ = false;
    mnuopen->setEnabled(false);
    sinceYield_.invalidate();
}

void Form1::endRun() {
    running_ = false;
    showPendingLog();
    mnuopen->setEnabled(true);
    sinceYield_.invalidate();
    if (closeWhenStopped_) close();
}

v2bsp::ExtractSettings Form1::runSettings() const {
    v2bsp::ExtractSettings settings;
    settings.outputParent = localPath(outputParent_);
    settings.fallbackParent = localPath(QFileInfo(mappath_).absolutePath());
    settings.outputParentSystem = v2bsp::ui::isSystemFolder(settings.outputParent);
    settings.files = files_;
    // The real disk takes files from several threads; a seam a test hands in may not.
    if (files_ == nullptr) settings.jobs = std::max(1u, std::thread::hardware_concurrency());
    return settings;
}

// Closing during a run ends the run at its next log line; the window closes
// when the run has returned.
void Form1::closeEvent(QCloseEvent* event) {
    if (running_) {
        closeWhenStopped_ = true;
        event->ignore();
        return;
    }
    Timer1->stop();
    Timer2->stop();
    if (view3d_ != nullptr) view3d_->close();
    QMainWindow::closeEvent(event);
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !droppedMap(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    chooseMap(droppedMap(event->mimeData()));
    event->acceptProposedAction();
}
