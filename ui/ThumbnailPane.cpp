// The thumbnail grid's place in the window: what it shows when, its actions, opening and copying.
#include "ui/ThumbnailPane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSettings>
#include <QStackedWidget>
#include <QTreeView>

#include <memory>
#include <span>
#include <string>

#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"
#include "base/FileRead.h"
#include "blp/Blp1Decode.h"
#include "blp/BlpExport.h"
#include "blp/LevelPixels.h"
#include "ui/ErrorHandler.h"
#include "ui/FilterLine.h"
#include "ui/MainMenu.h"
#include "ui/NamedFiles.h"
#include "ui/ThumbnailGrid.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"

namespace velmora {

namespace {

const QString kSideKey = QStringLiteral("Thumbnails/side");

// The window's settings file (~/.config/VelmoraGL/VelmoraGL.conf).
QSettings UserSettings() { return QSettings(QStringLiteral("VelmoraGL"), QStringLiteral("VelmoraGL")); }

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Level 0 of a file as RGBA, read on this thread through the archive layer (or from the disk);
// empty with why when there is none.
blp::TRgbaPixels FileImage(const TTreeModel& tree, const TVirtualNode& file, std::string& why) {
  const std::string name(file.data.fullName);
  std::string bytes;
  std::unique_ptr<TZanthFileHandler> handler;
  std::unique_ptr<blp::TBlpSource> source;
  if (IsDiskFile(tree, &file)) {
    if (!ReadFileBytes(name, bytes, why, static_cast<std::size_t>(blp::kExportMaxFileBytes))) return {};
    source = std::make_unique<blp::TMemorySource>(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  } else {
    TFileTrouble trouble;
    handler = TZanthObject::OpenFileHandler(name, trouble);
    if (!handler) {
      why = trouble.Text().empty() ? std::string("it cannot be read from its archive") : trouble.Text();
      return {};
    }
    source = std::make_unique<blp::TArchiveSource>(*handler);
  }
  blp::TBlpLevels levels;
  const TBLP2Header hdr = blp::ReadBlpHeader(*source);
  if (hdr.sign == blp::kBlp1Magic) {
    if (!blp::DecodeBlp1ForExport(*source, blp::kExportMaxTextureSize, 1, levels, why)) return {};
  } else if (const auto problem = blp::CheckBlpHeader(hdr, source->Size(), blp::kExportMaxTextureSize)) {
    why = problem->message;
    return {};
  } else {
    levels = blp::DecodeBlpLevels(*source, hdr, {.dxtAsBlocks = true, .maxLevels = 1});
    if (levels.levels.empty()) {
      why = "the file lists no level 0";
      return {};
    }
  }
  return blp::LevelToRgba(levels, 0);
}

}  // namespace

TThumbnailPane::TThumbnailPane(TForm1& form, QStackedWidget& stack) : QObject(&form), FForm(form), FStack(stack) {
  FGrid = new TThumbnailGrid(&stack);
  stack.addWidget(FGrid);
  TTreeModel& tree = *form.VirtualStringTree;
  FGrid->sourceOf = [this](const TVirtualNode& file) { return SourceOf(file); };
  FGrid->hintOf = [&tree](const TVirtualNode& file) { return tree.OnGetHint ? tree.OnGetHint(file) : QString(); };
  FGrid->nameOf = [&tree](const TVirtualNode& file) {
    // The name as its listfile spells it (a file on disk: as the disk does).
    const std::string_view path = file.data.fullName;
    const std::size_t cut = path.find_last_of(IsDiskFile(tree, &file) ? '/' : '\\');
    return FromUtf8(cut == std::string_view::npos ? path : path.substr(cut + 1));
  };
  FGrid->SetSide(UserSettings().value(kSideKey, TThumbnailGrid::kDefaultSide).toInt());

  auto action = [this](const char* name, const QString& text, const QList<QKeySequence>& keys) {
    auto* a = new QAction(text, &FForm);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcuts(keys);
    // A window action: it works while the tree has the keyboard, and the F1 list shows it.
    a->setShortcutContext(Qt::WindowShortcut);
    FForm.addAction(a);
    return a;
  };
  FMatches = action("ShowMatchesAsGrid", QStringLiteral("Show matches as grid"), {});
  FMatches->setCheckable(true);
  FMatches->setToolTip(QStringLiteral("With the filter on, show every file it lets through as thumbnails"));
  // The view's zoom keys serve the grid while it is shown (the view's are off then).
  QList<QKeySequence> larger = {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)};
  for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::ZoomIn)) {
    if (!larger.contains(key)) larger << key;
  }
  FLarger = action("LargerThumbnails", QStringLiteral("Larger thumbnails"), larger);
  FSmaller = action("SmallerThumbnails", QStringLiteral("Smaller thumbnails"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
  FCopy = action("CopyThumbnailFile", QStringLiteral("Copy file as image"), QKeySequence::keyBindings(QKeySequence::Copy));
  connect(FMatches, &QAction::toggled, this, [this](bool on) {
    RunEventHandler(&FForm, [this, on] {
      if (on) {
        if (FForm.VirtualStringTree->Filtered()) ShowMatches();
      } else if (FMode == TMode::kMatches) {
        ShowSelectedFolderOrView();
      }
    });
  });
  connect(FLarger, &QAction::triggered, this, [this] { FGrid->Larger(); });
  connect(FSmaller, &QAction::triggered, this, [this] { FGrid->Smaller(); });
  connect(FCopy, &QAction::triggered, this, [this] { RunEventHandler(&FForm, [this] { CopyCurrentFile(); }); });

  if (TMainMenu* menu = form.MainMenu()) {
    menu->AddViewPanelAction(FMatches);
    menu->AddViewPanelAction(FLarger);
    menu->AddViewPanelAction(FSmaller);
    menu->EditMenu()->addAction(FCopy);
  }
  if (TFilterLine* line = form.FilterLine()) line->AddMenuAction(FMatches);
  FGrid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    QMenu menu(FGrid);
    if (TVirtualNode* file = FGrid->CurrentFile()) {
      QAction* open = menu.addAction(QStringLiteral("Open"));
      connect(open, &QAction::triggered, this, [this, file] { RunEventHandler(&FForm, [&] { Open(file); }); });
      menu.addAction(FCopy);
      menu.addSeparator();
    }
    menu.addAction(FLarger);
    menu.addAction(FSmaller);
    menu.addAction(FMatches);
    menu.exec(FGrid->viewport()->mapToGlobal(pos));
  });

  connect(&tree, &TTreeModel::AddToSelection, this,
          [this](TVirtualNode* node) { RunEventHandler(&FForm, [&] { SelectionAdded(node); }); });
  connect(&tree, &QAbstractItemModel::modelAboutToBeReset, this, &TThumbnailPane::RowsAboutToReset);
  connect(&tree, &QAbstractItemModel::modelReset, this, [this] { RunEventHandler(&FForm, [this] { RowsReset(); }); });
  connect(FGrid, &TThumbnailGrid::Opened, this, [this](TVirtualNode* file) { RunEventHandler(&FForm, [&] { Open(file); }); });
  connect(FGrid, &TThumbnailGrid::SideChanged, this, [this](int side) {
    UserSettings().setValue(kSideKey, side);
    UpdateActions();
  });
  if (QItemSelectionModel* selection = FGrid->selectionModel()) {
    connect(selection, &QItemSelectionModel::currentChanged, this, &TThumbnailPane::UpdateActions);
  }
  if (TViewControls* controls = form.ViewControls()) connect(controls, &TViewControls::Changed, this, &TThumbnailPane::FollowView);
  FollowView();
  UpdateActions();
}

bool TThumbnailPane::GridShown() const { return FMode != TMode::kView; }

TThumbnailSource TThumbnailPane::SourceOf(const TVirtualNode& file) const {
  const std::string name(file.data.fullName);
  if (IsDiskFile(*FForm.VirtualStringTree, &file)) return {{}, name, {}};
  const TFileMpqRec* rec = FileIndex ? FileIndex->Find(UpperAscii(name)) : nullptr;
  if (rec == nullptr) return {{}, name, "not in the file list of any open archive"};
  std::string archive = FForm.ArchiveHostPathOf(rec->mpqh);
  if (archive.empty()) return {{}, name, "its archive is not open"};
  return {std::move(archive), std::string(rec->full_name), {}};
}

void TThumbnailPane::SelectionAdded(TVirtualNode* node) {
  if (node == nullptr) return;
  if (node->data.isFile == 1) {
    ShowView();
  } else {
    ShowFolder(node);
  }
}

void TThumbnailPane::ShowFolder(TVirtualNode* folder) {
  const TTreeModel& tree = *FForm.VirtualStringTree;
  std::vector<TVirtualNode*> files;
  for (std::size_t i = 0; i < folder->ChildCount(); ++i) {
    TVirtualNode* child = folder->Child(i);
    if (child->data.isFile == 1 && tree.IsShown(child)) files.push_back(child);
  }
  FFolder = folder;
  ShowGrid(TMode::kFolder, std::move(files));
}

void TThumbnailPane::ShowMatches() {
  TTreeModel& tree = *FForm.VirtualStringTree;
  if (!tree.Filtered()) {
    ShowSelectedFolderOrView();
    return;
  }
  // The rows the tree shows, depth first: the matching files in the tree's order.
  std::vector<TVirtualNode*> files;
  std::vector<QModelIndex> stack;
  for (int r = tree.rowCount() - 1; r >= 0; --r) stack.push_back(tree.index(r, 0));
  while (!stack.empty()) {
    const QModelIndex index = stack.back();
    stack.pop_back();
    TVirtualNode* node = TTreeModel::NodeOf(index);
    if (node != nullptr && node->data.isFile == 1) {
      files.push_back(node);
      continue;
    }
    for (int r = tree.rowCount(index) - 1; r >= 0; --r) stack.push_back(tree.index(r, 0, index));
  }
  ShowGrid(TMode::kMatches, std::move(files));
}

void TThumbnailPane::ShowGrid(TMode mode, std::vector<TVirtualNode*> files) {
  const TTreeModel& tree = *FForm.VirtualStringTree;
  if (FGeneration != tree.Generation()) {
    // Another set of archives: what the cache holds may name other files now.
    FGrid->ClearCache();
    FGeneration = tree.Generation();
  }
  FMode = mode;
  FGrid->SetFiles(std::move(files));
  FStack.setCurrentWidget(FGrid);
  if (TViewControls* controls = FForm.ViewControls()) controls->SetCovered(true);
  UpdateActions();
}

void TThumbnailPane::ShowView() {
  const bool wasShown = GridShown();
  FMode = TMode::kView;
  FFolder = nullptr;
  FGrid->SetFiles({});
  if (ViewBox) FStack.setCurrentWidget(ViewBox.get());
  if (TViewControls* controls = FForm.ViewControls()) controls->SetCovered(false);
  // The scroll box is back at its size: the panel and the viewport follow it.
  if (wasShown) FForm.FormResize();
  UpdateActions();
}

void TThumbnailPane::ShowSelectedFolderOrView() {
  QTreeView& view = *FForm.VirtualStringTreeView;
  const QModelIndex current = view.currentIndex();
  TVirtualNode* node = TTreeModel::NodeOf(current);
  const bool selected = current.isValid() && view.selectionModel() != nullptr && view.selectionModel()->isSelected(current);
  if (node != nullptr && selected && node->data.isFile != 1) {
    ShowFolder(node);
  } else {
    ShowView();
  }
}

void TThumbnailPane::RowsAboutToReset() {
  // The rows may be freed with the tree: the grid lets go of them at once.
  if (GridShown()) FGrid->SetFiles({});
}

void TThumbnailPane::RowsReset() {
  const TTreeModel& tree = *FForm.VirtualStringTree;
  if (FMatches->isChecked() && tree.Filtered()) {
    ShowMatches();
    return;
  }
  switch (FMode) {
    case TMode::kView: return;
    case TMode::kMatches: ShowSelectedFolderOrView(); return;
    case TMode::kFolder:
      // The folder stays while the tree keeps its nodes; a cleared tree has none of them.
      if (FGeneration == tree.Generation() && FFolder != nullptr) {
        ShowFolder(FFolder);
      } else {
        ShowView();
      }
      return;
  }
}

void TThumbnailPane::Open(TVirtualNode* file) {
  if (file == nullptr) return;
  QTreeView& view = *FForm.VirtualStringTreeView;
  const QModelIndex index = FForm.VirtualStringTree->IndexOf(file);
  if (!index.isValid()) return;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) view.expand(p);
  const bool already = view.currentIndex() == index && view.selectionModel() != nullptr &&
                       view.selectionModel()->isSelected(index);
  // Made current the way a click makes it: the tree's selection shows the file in the view. A file
  // selected already is the shown one.
  view.setCurrentIndex(index);
  view.scrollTo(index);
  if (already) ShowView();
  view.setFocus(Qt::OtherFocusReason);
}

void TThumbnailPane::CopyCurrentFile() {
  TVirtualNode* file = GridShown() ? FGrid->CurrentFile() : nullptr;
  if (file == nullptr) {
    QApplication::beep();
    return;
  }
  const QString name = FromUtf8(EscapeName(file->data.fullName));
  std::string why;
  const blp::TRgbaPixels pixels = FileImage(*FForm.VirtualStringTree, *file, why);
  if (pixels.bytes.empty()) {
    QApplication::beep();
    FForm.ShowStatusMessage(QStringLiteral("Cannot copy %1: %2").arg(name, FromUtf8(EscapeName(why))));
    return;
  }
  const QImage image(pixels.bytes.data(), static_cast<int>(pixels.width), static_cast<int>(pixels.height),
                     static_cast<qsizetype>(pixels.width) * 4, QImage::Format_RGBA8888);
  QGuiApplication::clipboard()->setImage(image.copy());
  FForm.ShowStatusMessage(QStringLiteral("Copied %1 (%2 x %3)").arg(name).arg(pixels.width).arg(pixels.height));
}

void TThumbnailPane::FollowView() {
  const TViewControls* controls = FForm.ViewControls();
  if (controls == nullptr) return;
  FGrid->SetModes(controls->State().channel, controls->State().background,
                  FForm.palette().color(QPalette::Button));
}

void TThumbnailPane::UpdateActions() {
  const bool shown = GridShown();
  FLarger->setEnabled(shown && FGrid->Side() < TThumbnailGrid::kMaxSide);
  FSmaller->setEnabled(shown && FGrid->Side() > TThumbnailGrid::kMinSide);
  FCopy->setEnabled(shown && FGrid->CurrentFile() != nullptr);
}

}  // namespace velmora
