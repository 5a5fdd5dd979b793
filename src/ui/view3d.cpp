#include "ui/view3d.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QResizeEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

#include "app/layout.hpp"
#include "app/level.hpp"
#include "app/placement.hpp"
#include "app/texts.hpp"
#include "ui/appicon.hpp"
#include "ui/paths.hpp"

namespace v2bsp::ui {
namespace {

constexpr int kMeshNumberRole = Qt::UserRole;

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

QString withExtension(const QString& name, std::string_view extension) {
    return QString::fromStdString(app::withExtension(name.toStdString(), extension));
}

}  // namespace

QString probeOpenGl() {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) return QStringLiteral("no OpenGL context can be made on this display");
    const QSurfaceFormat got = context.format();
    if (got.version() < qMakePair(3, 3)) {
        return QStringLiteral("OpenGL 3.3 is needed, this system offers %1.%2")
            .arg(got.majorVersion())
            .arg(got.minorVersion());
    }
    QOffscreenSurface surface;
    surface.setFormat(got);
    surface.create();
    if (!context.makeCurrent(&surface)) return QStringLiteral("the OpenGL context cannot be used");
    context.doneCurrent();
    return {};
}

std::string groupSeparator() {
    return QLocale().groupSeparator().toStdString();
}

View3D::View3D(GlProbe probe, QWidget* parent) : QMainWindow(parent) {
    createActions();
    createMenus();
    createToolbar();
    createView(probe);
    createList();
    createStatus();
    connectActions();
}

View3D::~View3D() = default;

// Every item of the menu table is an action of the window, so that its key
// works wherever the focus is in it.
void View3D::createActions() {
    setObjectName("View3D");
    setWindowTitle("3D View");
    setWindowIcon(appIcon());
    for (const app::MenuItem& item : app::kView3DMenu) {
        if (item.parent.empty() || item.name == app::kSeparator) continue;
        auto* action = new QAction(text(item.caption), this);
        action->setObjectName(text(item.name));
        QList<QKeySequence> keys;
        for (const std::string_view key : {item.shortcut, item.alternate}) {
            if (!key.empty()) keys << QKeySequence(text(key));
        }
        action->setShortcuts(keys);
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        if (!item.tooltip.empty()) action->setToolTip(text(item.tooltip));
        addAction(action);
    }
    const auto named = [this](const char* name) { return findChild<QAction*>(name); };
    openFolder_ = named("openfolder");
    saveAs_ = named("saveas");
    saveImage_ = named("saveimage");
    close_ = named("close");
    frameAll_ = named("frameAll");
    frameSelected_ = named("frameSelected");
    wireframe_ = named("wireframe");
    zUp_ = named("zUp");
    about_ = named("about");
    saveBox_ = std::make_unique<FileDialogSaveBox>(this);
    messages_ = std::make_unique<MessageBoxPresenter>(this);
    opener_ = systemFolderOpener(this);
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
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("splitter");
    setCentralWidget(splitter_);
    const QString refused = probe ? probe() : QString();
    if (!refused.isEmpty()) {
        showUnavailable(refused);
        return;
    }
    view_ = new LevelView(splitter_);
    splitter_->addWidget(view_);
    connect(view_, &LevelView::unavailable, this, &View3D::showUnavailable);
    connect(view_, &LevelView::meshPicked, this, &View3D::selectPicked);
}

// The notice takes the view's place; the actions that need a drawing go.
void View3D::showUnavailable(const QString& reason) {
    notice_ = new QLabel(QStringLiteral("3D view unavailable: ") + reason);
    notice_->setObjectName("unavailable");
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setWordWrap(true);
    notice_->setMinimumSize(320, 240);
    if (view_ != nullptr) {
        splitter_->replaceWidget(splitter_->indexOf(view_), notice_);
        view_->deleteLater();
        view_ = nullptr;
    } else {
        splitter_->insertWidget(0, notice_);
    }
    for (QAction* action : {saveImage_, frameAll_, frameSelected_, wireframe_}) action->setEnabled(false);
}

void View3D::createList() {
    list_ = new QTreeWidget(splitter_);
    list_->setObjectName("meshlist");
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Mesh", "Vertices", "Triangles"});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(false);
    splitter_->addWidget(list_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    splitter_->setChildrenCollapsible(false);
    for (int column = 0; column < 3; ++column) list_->header()->resizeSection(column, list_->header()->sectionSizeHint(column));
    measureList();
    resize(kPreferredWidth, kPreferredHeight);
    if (view_ != nullptr) setTabOrder(view_, list_);
}

void View3D::createStatus() {
    status_ = new StatusLabel(this);
    status_->setObjectName("status");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(status_, 1);
}

void View3D::connectActions() {
    connect(openFolder_, &QAction::triggered, this, &View3D::openFolder);
    connect(saveAs_, &QAction::triggered, this, &View3D::saveLevelAs);
    connect(saveImage_, &QAction::triggered, this, &View3D::saveImage);
    connect(frameAll_, &QAction::triggered, this, &View3D::frameAll);
    connect(wireframe_, &QAction::toggled, this, &View3D::showWireframe);
    connect(zUp_, &QAction::toggled, this, &View3D::showZUp);
    connect(frameSelected_, &QAction::triggered, this, &View3D::frameSelected);
    connect(close_, &QAction::triggered, this, &QWidget::close);
    connect(about_, &QAction::triggered, this, &View3D::showAbout);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &View3D::frameSelected);
    connect(list_, &QTreeWidget::itemChanged, this, &View3D::listItemChanged);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &View3D::listSelectionChanged);
}

void View3D::setSaveBox(std::unique_ptr<SaveBox> box) {
    saveBox_ = std::move(box);
}

void View3D::setFolderOpener(FolderOpener opener) {
    opener_ = std::move(opener);
}

void View3D::setMessagePresenter(std::unique_ptr<MessagePresenter> presenter) {
    messages_ = std::move(presenter);
}

void View3D::showRun(const MapExtraction& extraction, const ExtractResult& result,
                     std::optional<LevelGeometry> decoded) {
    extraction_ = &extraction;
    result_ = result;
    setWindowTitle(QString::fromStdString(app::viewTitle(extraction.folderName)));
    LevelGeometry geometry = decoded ? std::move(*decoded) : levelGeometry(extraction.plan);
    fillList(geometry);
    runStatus_ = QString::fromStdString(app::statusText(result, app::levelCounts(geometry), groupSeparator()));
    say(runStatus_);
    openFolder_->setEnabled(!result.outputfolder.empty());
    fitList();
    if (view_ == nullptr) return;
    // A new GL context decodes the level again rather than the view keeping a copy.
    const MeshPlan* plan = &extraction.plan;
    view_->setLevel(std::move(geometry), [plan] { return levelGeometry(*plan); });
}

// Each column is as wide as its longest text, whatever the row: the texts
// differ in their digits, which a list's font draws at one width (or nearly:
// of two as long, the one of higher digits is taken), so the longest is the
// widest, and it alone is measured (sizing to contents measures a thousand
// rows, and no more).
void View3D::fillList(const LevelGeometry& geometry) {
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
    for (const app::MeshRow& mesh : app::meshRows(geometry, groupSeparator())) {
        auto* row = new QTreeWidgetItem({QString::fromStdString(mesh.name), QString::fromStdString(mesh.vertices),
                                         QString::fromStdString(mesh.triangles)});
        row->setData(0, kMeshNumberRole, QVariant::fromValue<qlonglong>(mesh.number));
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

void View3D::say(const QString& text) {
    statusLine_ = text;
    static_cast<StatusLabel*>(status_)->setWhole(text);
}

void View3D::selectPicked(int mesh) {
    const QSignalBlocker quiet(list_);
    list_->clearSelection();
    if (QTreeWidgetItem* row = list_->topLevelItem(mesh)) {
        row->setSelected(true);
        list_->scrollToItem(row);
    }
}

void View3D::listItemChanged(QTreeWidgetItem* item, int column) {
    if (view_ == nullptr || column != 0) return;
    view_->setMeshVisible(list_->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
}

void View3D::listSelectionChanged() {
    if (view_ == nullptr) return;
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    view_->setHighlighted(selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.constFirst()));
}

void View3D::openFolder() {
    if (result_.outputfolder.empty()) return;
    const QString folder = qtPath(result_.outputfolder);
    const auto failed = [this, folder](const QString& failure, bool there) {
        if (failure.isEmpty()) return;
        say("Could not open " + folder + " in the file manager");
        messages_->failed(
            "The folder could not be shown in the file manager.",
            (there ? failure + QStringLiteral("\n\nThe mesh files are in:\n") + folder : failure).toStdString());
        // The box said it; the status line goes back to the level.
        say(runStatus_);
    };
    std::error_code unknown;
    if (!std::filesystem::is_directory(result_.outputfolder, unknown)) {
        failed(QString::fromStdString(app::folderGoneText(folder.toStdString())), false);
        return;
    }
    opener_(folder, [failed](const QString& failure) { failed(failure, true); });
}

// The format is the filter's, or the name's when it ends in .obj or .glb.
void View3D::saveLevelAs() {
    if (extraction_ == nullptr) return;
    saveBox_->setTitle("Save As");
    saveBox_->setFileName(qtPath(app::saveLevelSuggestion(result_, extraction_->folderName)).toStdString());
    saveBox_->setFilters(
        {{kGlbFilter, std::string(app::kGlbFilter.pattern)}, {kObjFilter, std::string(app::kObjFilter.pattern)}});
    saveBox_->showSave();
    QString name = QString::fromStdString(saveBox_->fileName());
    if (name.isEmpty()) return;
    const bool obj = app::savesObj(name.toStdString(), saveBox_->selectedFilter() == 1);
    name = withExtension(name, obj ? ".obj" : ".glb");
    const std::error_code failure = extraction_->writeLevel(obj ? LevelFormat::obj : LevelFormat::glb,
                                                            zUp_->isChecked() ? UpAxis::z : UpAxis::y, localPath(name));
    say(failure ? "Could not write " + name + ": " + QString::fromStdString(failure.message())
                : "Saved " + name + ". " + runStatus_);
}

void View3D::saveImage() {
    if (view_ == nullptr) return;
    saveBox_->setTitle("Save Image");
    saveBox_->setFileName(app::saveImageSuggestion(extraction_ != nullptr ? extraction_->folderName : ""));
    saveBox_->setFilters({{kPngFilter, std::string(app::kPngFilter.pattern)}});
    saveBox_->showSave();
    if (saveBox_->fileName().empty()) return;
    const QString name = withExtension(QString::fromStdString(saveBox_->fileName()), ".png");
    const QString failure = writePng(view_->picture(), name);
    say(failure.isEmpty() ? "Saved " + name + ". " + runStatus_ : "Could not write " + name + ": " + failure);
}

void View3D::frameAll() {
    if (view_ != nullptr) view_->frameAll();
}

void View3D::frameSelected() {
    if (view_ == nullptr) return;
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    view_->frameMesh(selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.constFirst()));
}

void View3D::showAbout() {
    messages_->about(v2bsp::app::kAboutTitle, app::aboutText());
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

void View3D::showWireframe(bool on) {
    if (view_ != nullptr) view_->setWireframe(on);
}

void View3D::showZUp(bool on) {
    if (view_ != nullptr) view_->setZUp(on);
}

}  // namespace v2bsp::ui
