#include "ui/view3d.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QResizeEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/placement.hpp"
#include "app/texts.hpp"
#include "platform/utf8path.hpp"
#include "ui/appicon.hpp"
#include "ui/dialogs.hpp"
#include "ui/folderopener.hpp"
#include "ui/menus.hpp"
#include "ui/paths.hpp"
#include "ui/pngfile.hpp"

namespace v2bsp::ui {
namespace {

// A one-line label that shows as much of its text as fits, ending in "...",
// with the whole text in its tooltip when it is cut.
class StatusLabel final : public QLabel {
public:
    explicit StatusLabel(QWidget* parent) : QLabel(parent) {
        setMinimumWidth(1);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    void setWhole(const QString& text) {
        whole_ = text;
        fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit() {
        const QString shown = fontMetrics().elidedText(whole_, Qt::ElideRight, std::max(1, contentsRect().width()));
        setText(shown);
        setToolTip(shown == whole_ ? QString() : whole_);
    }
    QString whole_;
};

}  // namespace

std::string groupSeparator() {
    return QLocale().groupSeparator().toStdString();
}

// What the behaviour asks of the window, carried out with its widgets.
class View3D::Window final : public app::View3DWindow {
public:
    explicit Window(View3D& window) : w_(window) {}
    void setTitle(const std::string& title) override { w_.setWindowTitle(text(title)); }
    void setRows(const std::vector<app::MeshRow>& rows) override {
        w_.fillList(rows);
        w_.fitList();
    }
    void selectRow(int row) override { w_.selectRow(row); }
    void setStatus(const std::string& line) override {
        w_.statusLine_ = text(line);
        static_cast<StatusLabel*>(w_.status_)->setWhole(w_.statusLine_);
    }
    void enableCommand(std::string_view name, bool on) override { action(name)->setEnabled(on); }
    void checkCommand(std::string_view name, bool on) override { action(name)->setChecked(on); }
    void showUnavailable(const std::string& notice) override { w_.showUnavailable(text(notice)); }
    void redraw() override {
        if (w_.view_ != nullptr) w_.view_->update();
    }
    void hideWindow() override { w_.close(); }
    int meshAt(app::Pixel pixel) override { return w_.view_ != nullptr ? w_.view_->meshAt({pixel.x, pixel.y}) : -1; }
    std::string writePicture(const std::filesystem::path& file) override {
        if (w_.view_ == nullptr) return "the view could not be drawn";
        return writePng(w_.view_->picture(), qtPath(file)).toStdString();
    }

private:
    QAction* action(std::string_view name) const { return w_.findChild<QAction*>(text(name)); }
    View3D& w_;
};

View3D::View3D(GlProbe probe, QWidget* parent)
    : QMainWindow(parent),
      window_(std::make_unique<Window>(*this)),
      behaviour_(std::make_unique<app::View3DBehaviour>(*window_, groupSeparator())) {
    behaviour_->setSaveBox(std::make_unique<FileDialogSaveBox>(this));
    behaviour_->setMessagePresenter(std::make_unique<MessageBoxPresenter>(this));
    behaviour_->setFolderOpener(systemFolderOpener(this));
    createActions();
    createMenus();
    createToolbar();
    createList();
    createView(probe);
    createStatus();
    connectActions();
}

// The view, a child, ends after the behaviour: they let go of each other first.
View3D::~View3D() {
    if (view_ != nullptr) view_->setBehaviour(nullptr);
    behaviour_->setRenderer(nullptr);
}

// Every item of the menu table is an action of the window, so that its key
// works wherever the focus is in it; each runs its command of the behaviour.
void View3D::createActions() {
    setObjectName("View3D");
    setWindowTitle("3D View");
    setWindowIcon(appIcon());
    for (const app::MenuItem& item : app::kView3DMenu) {
        if (item.parent.empty() || item.name == app::kSeparator) continue;
        QAction* action = rowAction(item, this);
        addAction(action);
        const std::string_view name = item.name;
        connect(action, &QAction::triggered, this, [this, name] { behaviour_->command(name); });
    }
}

void View3D::createMenus() {
    QMenu* menu = nullptr;
    for (const app::MenuItem& item : app::kView3DMenu) {
        if (item.parent.empty()) {
            menu = menuBar()->addMenu(text(item.caption));
            menu->setObjectName(text(item.name));
        } else if (item.name == app::kSeparator) {
            menu->addSeparator();
        } else {
            menu->addAction(findChild<QAction*>(text(item.name)));
        }
    }
}

void View3D::createToolbar() {
    QToolBar* bar = addToolBar("3D View");
    bar->setObjectName("toolbar");
    bar->setMovable(false);
    for (const std::string_view name : app::kView3DToolbar) {
        if (name == app::kSeparator) {
            bar->addSeparator();
        } else {
            bar->addAction(findChild<QAction*>(text(name)));
        }
    }
}

void View3D::createView(const GlProbe& probe) {
    const QString refused = probe ? probe() : QString();
    if (!refused.isEmpty()) {
        behaviour_->unavailable(refused.toStdString());
        return;
    }
    view_ = new LevelView(splitter_);
    splitter_->insertWidget(0, view_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    setTabOrder(view_, list_);
    view_->setBehaviour(behaviour_.get());
    behaviour_->setRenderer(&view_->renderer());
    connect(view_, &LevelView::unavailable, this,
            [this](const QString& reason) { behaviour_->unavailable(reason.toStdString()); });
}

// The notice takes the view's place.
void View3D::showUnavailable(const QString& notice) {
    notice_ = new QLabel(notice);
    notice_->setObjectName("unavailable");
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setWordWrap(true);
    notice_->setMinimumSize(320, 240);
    if (view_ != nullptr) {
        view_->setBehaviour(nullptr);
        splitter_->replaceWidget(splitter_->indexOf(view_), notice_);
        view_->deleteLater();
        view_ = nullptr;
    } else {
        splitter_->insertWidget(0, notice_);
    }
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
}

void View3D::createList() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("splitter");
    setCentralWidget(splitter_);
    list_ = new QTreeWidget(splitter_);
    list_->setObjectName("meshlist");
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Mesh", "Vertices", "Triangles"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(false);
    splitter_->addWidget(list_);
    splitter_->setChildrenCollapsible(false);
    for (int column = 0; column < 3; ++column) list_->header()->resizeSection(column, list_->header()->sectionSizeHint(column));
    measureList();
    resize(app::kView3DWidth, app::kView3DHeight);
}

void View3D::createStatus() {
    status_ = new StatusLabel(this);
    status_->setObjectName("status");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(status_, 1);
}

void View3D::connectActions() {
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { behaviour_->rowActivated(rowOf(item)); });
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0) behaviour_->rowChecked(rowOf(item), item->checkState(0) == Qt::Checked);
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = list_->selectedItems();
        behaviour_->rowSelected(selected.isEmpty() ? -1 : rowOf(selected.constFirst()));
    });
}

int View3D::rowOf(QTreeWidgetItem* item) const {
    return list_->indexOfTopLevelItem(item);
}

void View3D::setSaveBox(std::unique_ptr<app::SaveBox> box) {
    behaviour_->setSaveBox(std::move(box));
}

void View3D::setFolderOpener(app::FolderOpener opener) {
    behaviour_->setFolderOpener(std::move(opener));
}

void View3D::setMessagePresenter(std::unique_ptr<app::MessagePresenter> presenter) {
    behaviour_->setMessagePresenter(std::move(presenter));
}

void View3D::showRun(const MapExtraction& extraction, const ExtractResult& result,
                     std::optional<LevelGeometry> decoded) {
    behaviour_->showRun(extraction, result, std::move(decoded));
}

void View3D::levelArrays(LevelGeometry arrays) {
    behaviour_->levelArrays(std::move(arrays));
}

void View3D::whenArraysWanted(std::function<void()> wanted) {
    behaviour_->whenArraysWanted(std::move(wanted));
}

// How long after showing the window its frame is taken as known.
constexpr int kFrameKnownMs = 250;

void View3D::show() {
    QMainWindow::show();
    raise();
    activateWindow();
    if (!placedNow_) return;
    placedNow_ = false;
    QTimer::singleShot(kFrameKnownMs, this, [this] { keepInside(); });
}

void View3D::hide() {
    QMainWindow::hide();
}

QMargins View3D::frame() const {
    const QRect outer = frameGeometry(), client = geometry();
    if (outer == client) return frameGuess_;
    return {client.left() - outer.left(), client.top() - outer.top(), outer.right() - client.right(),
            outer.bottom() - client.bottom()};
}

app::Size View3D::preferredFrame() const {
    const QMargins margins = frame();
    const double scale = logicalDpiX() / 96.0;
    return {static_cast<int>(app::kView3DWidth * scale) + margins.left() + margins.right(),
            static_cast<int>(app::kView3DHeight * scale) + margins.top() + margins.bottom()};
}

void View3D::place(const app::Rect& at) {
    const QMargins margins = frame();
    resize(at.width - margins.left() - margins.right(), at.height - margins.top() - margins.bottom());
    move(at.x, at.y);
    placedNow_ = true;
}

// The window manager's frame of a resizable window may be larger than the
// one guessed for it.
void View3D::keepInside() {
    if (screen() == nullptr) return;
    const QRect room = screen()->availableGeometry(), outer = frameGeometry();
    if (room.contains(outer)) return;
    resize(size() - QSize(std::max(0, outer.width() - room.width()), std::max(0, outer.height() - room.height())));
    const QRect fitted(outer.topLeft(), outer.size().boundedTo(room.size()));
    move(std::clamp(fitted.x(), room.left(), room.right() + 1 - fitted.width()),
         std::clamp(fitted.y(), room.top(), room.bottom() + 1 - fitted.height()));
}


// Each column is as wide as its longest text, whatever the row: the texts
// differ in their digits, which a list's font draws at one width (or nearly:
// of two as long, the one of higher digits is taken), so the longest is the
// widest, and it alone is measured (sizing to contents measures a thousand
// rows, and no more).
void View3D::fillList(const std::vector<app::MeshRow>& meshes) {
    const QSignalBlocker quiet(list_);
    list_->clear();
    QList<QTreeWidgetItem*> rows;
    int longest[3] = {-1, -1, -1};  // the row of each column's longest text
    std::string texts[3];             // and that text
    const auto note = [&](int column, const std::string& text) {
        const std::string& before = texts[column];
        if (longest[column] < 0 || text.size() > before.size() || (text.size() == before.size() && text > before)) {
            longest[column] = static_cast<int>(rows.size()) - 1;
            texts[column] = text;
        }
    };
    for (const app::MeshRow& mesh : meshes) {
        auto* row = new QTreeWidgetItem({QString::fromStdString(mesh.name), QString::fromStdString(mesh.vertices),
                                         QString::fromStdString(mesh.triangles)});
        row->setData(0, Qt::DecorationRole, QColor::fromRgbF(mesh.colour.red, mesh.colour.green, mesh.colour.blue));
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, Qt::Checked);
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        rows << row;
        note(0, mesh.name);
        note(1, mesh.vertices);
        note(2, mesh.triangles);
    }
    list_->addTopLevelItems(rows);
    for (int column = 0; column < 3; ++column) {
        int width = list_->header()->sectionSizeHint(column);
        if (longest[column] >= 0) {
            width = std::max(width, list_->sizeHintForIndex(list_->model()->index(longest[column], column)).width());
        }
        list_->header()->resizeSection(column, width);
    }
    measureList();
}

// What the list needs for its columns as they are sized to their texts: the
// columns, the list's borders and room for a vertical scroll bar.
void View3D::measureList() {
    const QHeaderView* header = list_->header();
    nameWidth_ = header->sectionSize(0);
    const int around = 2 * list_->frameWidth() + list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
    const int numbers = header->sectionSize(1) + header->sectionSize(2) + around;
    listNeed_ = {nameWidth_ + numbers, std::min(nameWidth_, header->sectionSizeHint(0)) + numbers};
}

QString View3D::statusLine() const {
    return statusLine_;
}

void View3D::selectRow(int row) {
    const QSignalBlocker quiet(list_);
    list_->clearSelection();
    if (QTreeWidgetItem* item = list_->topLevelItem(row)) {
        item->setSelected(true);
        list_->scrollToItem(item);
    }
}

// The list as wide as its texts need, as far as app::listWidth gives it that;
// narrower, its name column gives way so that the numbers stay whole.
void View3D::fitList() {
    const bool laidOut = splitter_->isVisible() && splitter_->width() > splitter_->handleWidth();
    const int total = laidOut ? splitter_->width() - splitter_->handleWidth() : width();
    const int list = app::listWidth(total, listNeed_);
    splitter_->setSizes({total - list, list});
    QHeaderView* header = list_->header();
    const int names = list - (listNeed_.whole - nameWidth_);
    header->resizeSection(0, std::clamp(names, std::min(nameWidth_, header->sectionSizeHint(0)), nameWidth_));
}

// Once the splitter has its new width.
void View3D::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    QMetaObject::invokeMethod(this, &View3D::fitList, Qt::QueuedConnection);
}

void View3D::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

}  // namespace v2bsp::ui
