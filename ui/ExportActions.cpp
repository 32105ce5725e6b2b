// Saving, copying and exporting textures and files from the window.
#include "ui/ExportActions.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QAction>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

#include <vector>

#include "base/Escape.h"
#include "blp/LevelPixels.h"
#include "render/View.h"
#include "ui/ErrorHandler.h"
#include "ui/ExportDialog.h"
#include "ui/FileVersions.h"
#include "ui/FilterLine.h"
#include "ui/InfoPanel.h"
#include "ui/NamedFiles.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"
#include "ui/ViewSettings.h"

namespace velmora {

blp::TRgbaPixels ShownLevelPixels(std::size_t level) {
  if (!CurrentTexture || level >= CurrentTexture->Levels().levels.size()) return {};
  return blp::LevelToRgba(CurrentTexture->Levels(), level);
}

namespace {
// Whether ShownLevelPixels(level) has pixels, without decoding them.
bool HasLevelPixels(std::size_t level) {
  return CurrentTexture && level < CurrentTexture->Levels().levels.size() &&
         !CurrentTexture->Levels().levels[level].bytes.empty();
}
}  // namespace

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The file name of an archive path or a path on disk: "MAP01.blp" for Textures\Minimap\MAP01.blp.
QString FileNameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return FromUtf8(cut == std::string::npos ? path : path.substr(cut + 1));
}

// The name a file is offered under in `format`: "MAP01.png", "MAP01.dds", or "MAP01.blp" as it is.
QString SuggestedName(const std::string& path, blp::TExportFormat format) {
  QString file = FileNameOf(path);
  if (format == blp::TExportFormat::kRaw) return file;
  if (file.endsWith(QStringLiteral(".blp"), Qt::CaseInsensitive)) file.chop(4);
  return file + (format == blp::TExportFormat::kDds ? QStringLiteral(".dds") : QStringLiteral(".png"));
}

// The shown file's name without its folder: "MAP01.blp" for Textures\Minimap\MAP01.blp (or
// /disk/MAP01.blp).
std::string ShownFileName() {
  if (!CurrentTexture) return {};
  const std::string& name = CurrentTexture->fname();
  const std::size_t cut = name.find_last_of("\\/:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The file dialog's filter for a name of that extension.
QString FilterFor(const QString& name) {
  if (name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) return QStringLiteral("PNG images (*.png)");
  if (name.endsWith(QStringLiteral(".dds"), Qt::CaseInsensitive)) return QStringLiteral("DDS textures (*.dds)");
  return QStringLiteral("All files (*)");
}

// What the tree shows of a node: its path for a file, its folders joined for a folder; escaped.
QString NodeCaption(TVirtualNode* node) {
  if (node == nullptr) return {};
  if (node->data.isFile == 1) return FromUtf8(EscapeName(node->data.fullName));
  std::string path;
  for (const TVirtualNode* n = node; n != nullptr; n = n->parent) path = std::string(n->data.name) + (path.empty() ? "" : "\\") + path;
  return FromUtf8(EscapeName(path));
}

// "MAP01.png" for level 0 of MAP01.blp, "MAP01.mip3.png" for level 3.
QString SuggestedName(std::size_t level) {
  if (!CurrentTexture) return QStringLiteral("texture.png");
  std::string base = ShownFileName();
  if (base.size() >= 4 && FromUtf8(base.substr(base.size() - 4)).compare(QStringLiteral(".blp"), Qt::CaseInsensitive) == 0) {
    base.resize(base.size() - 4);
  }
  return FromUtf8(blp::ExportImageName(base, level));
}

QString SizeText(const blp::TRgbaPixels& pixels) { return QStringLiteral("(%1 x %2)").arg(pixels.width).arg(pixels.height); }

// The export's events as a progress dialog: its value, the file being read, its Cancel button.
class TDialogEvents : public blp::TExportEvents {
public:
  // Without a dialog (one file saved) it only keeps the failures.
  explicit TDialogEvents(QProgressDialog* dialog) : dialog_(dialog) { clock_.start(); }

  void Progress(std::size_t done, std::size_t total, const std::string& current) override {
    // The dialog takes a repaint and a round of events; a few dozen a second are enough.
    if (dialog_ == nullptr || (clock_.elapsed() < 40 && done < total)) return;
    clock_.restart();
    dialog_->setMaximum(static_cast<int>(total));
    if (!current.empty()) dialog_->setLabelText(FromUtf8(EscapeName(current)));
    dialog_->setValue(static_cast<int>(done));
    QCoreApplication::processEvents();
  }
  // Names from archives are shown with their control characters escaped.
  void Failed(const std::string& path, const std::string& reason) override {
    failures.push_back(EscapeName(path) + ": " + EscapeName(reason));
  }
  bool Cancelled() override { return dialog_ != nullptr && dialog_->wasCanceled(); }

  std::vector<std::string> failures;

private:
  QProgressDialog* dialog_;
  QElapsedTimer clock_;
};

// The file nodes shown below `folder`, in the tree's order.
std::vector<const TVirtualNode*> ShownFiles(const TTreeModel& model, TVirtualNode* folder) {
  std::vector<const TVirtualNode*> files;
  std::vector<QModelIndex> stack{model.IndexOf(folder)};
  while (!stack.empty()) {
    const QModelIndex idx = stack.back();
    stack.pop_back();
    const TVirtualNode* node = TTreeModel::NodeOf(idx);
    if (node != nullptr && node->data.isFile == 1) {
      files.push_back(node);
      continue;
    }
    for (int r = model.rowCount(idx) - 1; r >= 0; --r) stack.push_back(model.index(r, 0, idx));
  }
  return files;
}

}  // namespace

TExportActions::TExportActions(TForm1& form) : QObject(&form), form_(form), lastDir_(LoadSaveFolder()) {
  if (lastDir_.isEmpty() || !QFileInfo(lastDir_).isDir()) lastDir_ = QDir::homePath();
  chooseSaveFile = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(&form_, QStringLiteral("Save as"), suggested, FilterFor(suggested));
  };
  chooseFolder = [this] {
    return QFileDialog::getExistingDirectory(&form_, QStringLiteral("Export to folder"), lastDir_);
  };
  openFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
  // Window actions: their shortcuts work wherever the focus is, and the shortcut list shows them.
  auto add = [&](const char* name, const QString& text, const QKeySequence& keys, std::function<void()> action) {
    auto* a = new QAction(text, &form);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    form.addAction(a);
    connect(a, &QAction::triggered, this, [this, action] { RunEventHandler(&form_, action); });
    actions_.push_back(a);
  };
  add("SaveLevel", QStringLiteral("Save level as PNG\u2026"), QKeySequence(Qt::CTRL | Qt::Key_S), [this] { SaveShownLevel(); });
  add("SaveEveryLevel", QStringLiteral("Save every level\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
      [this] { SaveEveryLevel(); });
  add("CopyLevel", QStringLiteral("Copy level"), QKeySequence::Copy, [this] { CopyShownLevel(); });
  add("Export", QStringLiteral("Export\u2026"), QKeySequence(Qt::CTRL | Qt::Key_E), [this] { ExportWithDialog(); });

  QTreeView* view = form.VirtualStringTreeView;
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
    QMenu menu(view);
    FillTreeMenu(menu, TTreeModel::NodeOf(view->indexAt(pos)));
    if (!menu.isEmpty()) menu.exec(view->viewport()->mapToGlobal(pos));
  });
}

MpqHandle TExportActions::ShownVersionArchive(const blp::TExportItem& item) const {
  // The file shown in another archive's version is saved in that version.
  const TInfoPanel* panel = form_.InfoPanel();
  if (panel == nullptr || !item.diskPath.empty()) return 0;
  const TFileVersions& versions = panel->Versions();
  if (!versions.HasFile() || versions.OnDisk() || versions.Path() != item.path || versions.Shown() < 0) return 0;
  return versions.Sources()[static_cast<std::size_t>(versions.Shown())].archive;
}

std::size_t TExportActions::ShownLevel() const {
  const TViewControls* controls = form_.ViewControls();
  return controls != nullptr ? static_cast<std::size_t>(controls->State().level) : 0;
}

void TExportActions::UpdateEnabled() {
  const bool shown = HasLevelPixels(ShownLevel());
  const bool first = HasLevelPixels(0);
  // While another pane covers the view, Ctrl+C is that pane's.
  const bool covered = form_.ViewControls() != nullptr && form_.ViewControls()->Covered();
  for (QAction* action : actions_) {
    const QString name = action->objectName();
    if (name == QLatin1String("SaveLevel")) action->setEnabled(shown);
    if (name == QLatin1String("CopyLevel")) action->setEnabled(shown && !covered);
    if (name == QLatin1String("SaveEveryLevel")) action->setEnabled(first);
  }
}

void TExportActions::SaveShownLevel() {
  if (!HasLevelPixels(ShownLevel())) {
    QApplication::beep();
    return;
  }
  // The name says which level it holds, as the export names its levels.
  const QString path = chooseSaveFile(QDir(lastDir_).filePath(SuggestedName(ShownLevel())));
  if (!path.isEmpty()) SaveLevels(path, false);
}

void TExportActions::SaveEveryLevel() {
  if (!HasLevelPixels(0)) {
    QApplication::beep();
    return;
  }
  const QString path = chooseSaveFile(QDir(lastDir_).filePath(SuggestedName(0)));
  if (!path.isEmpty()) SaveLevels(path, true);
}

void TExportActions::SaveLevels(const QString& path, bool every) {
  lastDir_ = QFileInfo(path).absolutePath();
  StoreSaveFolder(lastDir_);
  QString base = path;
  if (base.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) base.chop(4);
  const std::string baseName = QFile::encodeName(base).toStdString();
  const std::size_t count = every ? CurrentTexture->Levels().levels.size() : 1;
  QString first, last;
  blp::TRgbaPixels firstPixels;
  for (std::size_t i = 0; i < count; ++i) {
    // Saving one level writes exactly the name chosen.
    const std::string file = every ? blp::ExportImageName(baseName, i) : QFile::encodeName(path).toStdString();
    const blp::TRgbaPixels pixels = ShownLevelPixels(every ? i : ShownLevel());
    std::string error;
    if (!blp::WritePngFile(file, pixels, error)) throw std::runtime_error(error);
    last = QFileInfo(QFile::decodeName(QByteArray::fromStdString(file))).fileName();
    if (i == 0) {
      first = last;
      firstPixels.width = pixels.width;
      firstPixels.height = pixels.height;
    }
  }
  form_.ShowStatusMessage(count == 1 ? QStringLiteral("Saved %1 %2").arg(first, SizeText(firstPixels))
                                     : QStringLiteral("Saved %1 levels, %2 %3 to %4").arg(count).arg(first, SizeText(firstPixels), last));
}

void TExportActions::CopyShownLevel() {
  const std::size_t level = ShownLevel();
  const blp::TRgbaPixels pixels = ShownLevelPixels(level);
  if (pixels.bytes.empty()) {
    QApplication::beep();
    return;
  }
  const QImage image(pixels.bytes.data(), static_cast<int>(pixels.width), static_cast<int>(pixels.height),
                     static_cast<qsizetype>(pixels.width) * 4, QImage::Format_RGBA8888);
  QGuiApplication::clipboard()->setImage(image.copy());
  const QString name = FromUtf8(EscapeName(ShownFileName()));
  form_.ShowStatusMessage(level == 0 ? QStringLiteral("Copied %1 %2").arg(name, SizeText(pixels))
                                     : QStringLiteral("Copied mip %1 of %2 %3").arg(level).arg(name, SizeText(pixels)));
}

void TExportActions::FillTreeMenu(QMenu& menu, TVirtualNode* node) {
  if (node == nullptr) return;
  auto add = [&](const char* name, const QString& text, std::function<void()> action) {
    QAction* a = menu.addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [this, action] { RunEventHandler(&form_, action); });
  };
  if (node->data.isFile == 1) {
    add("SaveAsPng", QStringLiteral("Save as PNG\u2026"), [this, node] { SaveFileAs(node, blp::TExportFormat::kPng); });
    add("SaveAsDds", QStringLiteral("Save as DDS\u2026"), [this, node] { SaveFileAs(node, blp::TExportFormat::kDds); });
    add("SaveAsRaw", QStringLiteral("Save as raw file\u2026"), [this, node] { SaveFileAs(node, blp::TExportFormat::kRaw); });
    return;
  }
  add("ExportFolderDialog", QStringLiteral("Export\u2026"), [this, node] { ExportWithDialog(node); });
  add("ExportFolderPng", QStringLiteral("Export folder as PNG\u2026"), [this, node] { ExportFolder(node); });
}

void TExportActions::SaveFileAs(TVirtualNode* file, blp::TExportFormat format) {
  const TTreeModel& model = *form_.VirtualStringTree;
  blp::TExportItem item = ExportItemOf(model, file);
  item.archive = ShownVersionArchive(item);
  const QString path = chooseSaveFile(QDir(lastDir_).filePath(SuggestedName(std::string(file->data.fullName), format)));
  if (path.isEmpty()) return;
  const QFileInfo info(path);
  lastDir_ = info.absolutePath();
  item.outName = QFile::encodeName(info.fileName()).toStdString();
  blp::TExportOptions options;
  options.outDir = QFile::encodeName(lastDir_).toStdString();
  options.format = format;
  // The file dialog has asked before replacing a file.
  options.overwrite = true;
  options.workers = 1;
  TDialogEvents events(nullptr);
  blp::ExportBlpFiles({item}, options, events);
  if (!events.failures.empty()) throw std::runtime_error(events.failures.front());
}

void TExportActions::ExportWithDialog(TVirtualNode* folder) {
  const TTreeModel& model = *form_.VirtualStringTree;
  TVirtualNode* file = nullptr;
  if (folder == nullptr) {
    TVirtualNode* selected = TTreeModel::NodeOf(form_.VirtualStringTreeView->currentIndex());
    if (selected != nullptr && selected->data.isFile == 1) {
      file = selected;
      folder = selected->parent;
    } else {
      folder = selected;
    }
  }
  TExportChoice initial = LoadExportChoice();
  initial.scope = file != nullptr ? TExportScope::kSelectedFile
                  : folder != nullptr ? TExportScope::kSelectedFolder
                                      : TExportScope::kShown;
  const std::size_t shown = model.Filtered() && form_.FilterLine() ? form_.FilterLine()->Matches() : 0;
  TExportDialog dialog(&form_, NodeCaption(file), NodeCaption(folder), shown, initial);
  dialog.chooseFolder = [this](const QString& start) {
    lastDir_ = start;
    return chooseFolder();
  };
  if (dialog.exec() != QDialog::Accepted) return;
  const TExportChoice choice = dialog.Choice();
  SaveExportChoice(choice);
  lastDir_ = choice.folder;

  std::vector<blp::TExportItem> items;
  if (choice.scope == TExportScope::kSelectedFile && file != nullptr) {
    items.push_back(ExportItemOf(model, file));
  } else {
    for (const TVirtualNode* f : ShownFiles(model, choice.scope == TExportScope::kSelectedFolder ? folder : nullptr)) {
      items.push_back(ExportItemOf(model, f));
    }
  }
  blp::TExportOptions options;
  options.outDir = QFile::encodeName(choice.folder).toStdString();
  options.format = choice.format;
  options.mips = choice.mips;
  options.overwrite = choice.overwrite;
  RunExport(items, options, QStringLiteral("Export"));
}

void TExportActions::ExportFolder(TVirtualNode* folder) {
  const QString dir = chooseFolder();
  if (dir.isEmpty()) return;
  lastDir_ = dir;
  ExportFolderTo(folder, dir);
}

blp::TExportSummary TExportActions::ExportFolderTo(TVirtualNode* folder, const QString& dir) {
  const TTreeModel& model = *form_.VirtualStringTree;
  std::vector<blp::TExportItem> items;
  for (const TVirtualNode* file : ShownFiles(model, folder)) items.push_back(ExportItemOf(model, file));
  blp::TExportOptions options;
  options.outDir = QFile::encodeName(dir).toStdString();
  options.overwrite = true;
  return RunExport(items, options, QStringLiteral("Export folder as PNG"));
}

blp::TExportSummary TExportActions::RunExport(const std::vector<blp::TExportItem>& items,
                                              const blp::TExportOptions& options, const QString& title) {
  QProgressDialog dialog(QStringLiteral("Exporting\u2026"), QStringLiteral("Cancel"), 0, static_cast<int>(items.size()),
                         &form_);
  dialog.setWindowTitle(title);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setMinimumDuration(300);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  TDialogEvents events(&dialog);
  const blp::TExportSummary summary = blp::ExportBlpFiles(items, options, events);
  dialog.close();

  const QString dir = QFile::decodeName(options.outDir.c_str());
  QString text = FromUtf8(blp::ExportSummaryLine(summary)) + QStringLiteral(" in %1.").arg(dir);
  if (summary.cancelled) text = QStringLiteral("Export cancelled: ") + text;
  if (!events.failures.empty()) {
    constexpr std::size_t kShown = 10;
    text += QStringLiteral("\n\n%1 failed:").arg(events.failures.size());
    for (std::size_t i = 0; i < events.failures.size() && i < kShown; ++i) text += "\n" + FromUtf8(events.failures[i]);
    if (events.failures.size() > kShown) text += QStringLiteral("\n\u2026");
  }
  QMessageBox box(events.failures.empty() ? QMessageBox::Information : QMessageBox::Warning, title, text,
                  QMessageBox::Close, &form_);
  QPushButton* open = box.addButton(QStringLiteral("Open folder"), QMessageBox::ActionRole);
  open->setObjectName(QStringLiteral("OpenFolder"));
  box.setDefaultButton(QMessageBox::Close);
  box.exec();
  if (box.clickedButton() == open) openFolder(dir);
  return summary;
}

}  // namespace velmora
