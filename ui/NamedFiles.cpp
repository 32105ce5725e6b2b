// Archives and BLP files the user names: opening them, their tree nodes, their textures, drops.
#include "ui/NamedFiles.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <filesystem>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"
#include "base/FileRead.h"
#include "blp/ZanthBLP.h"
#include "host/FileKinds.h"
#include "log/LogHandler.h"
#include "ui/ErrorHandler.h"
#include "ui/FileTree.h"
#include "ui/FilterLine.h"
#include "ui/MainMenu.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"

namespace velmora {
namespace {

// The file nodes of files on disk, for the tree they were added to (until its next Clear).
struct TDiskFiles {
  const TTreeModel* tree = nullptr;
  std::uint64_t generation = 0;
  std::unordered_set<const TVirtualNode*> nodes;
  std::unordered_map<std::string, TVirtualNode*> byPath;
};
TDiskFiles DiskFiles;

TDiskFiles& DiskFilesOf(const TTreeModel& tree) {
  if (DiskFiles.tree != &tree || DiskFiles.generation != tree.Generation()) {
    DiskFiles = TDiskFiles{&tree, tree.Generation(), {}, {}};
  }
  return DiskFiles;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : p).lexically_normal().string();
}

}  // namespace

namespace {

std::string StopWhat(TReaderStop stop) {
  return "skipped: the archive reader stopped (" + std::string(ReaderStopText(stop)) + ")";
}

void AddTrouble(TStartupReport* report, const std::string& archive, const std::string& what, const std::string& line) {
  if (report) report->archiveTroubles.push_back({archive, what, line});
}

// An archive skipped for stopping the reader, in the log and the report; how it stopped and what
// the reader said went to the log as it happened (LogReaderStop).
void ReportStop(TStartupReport* report, const std::string& name, TReaderStop stop) {
  const std::string what = StopWhat(stop);
  const std::string line = name + " " + what;
  WriteLog(line);
  AddTrouble(report, name, what, line);
}

}  // namespace

void LogReaderStop(const TReaderStopEvent& event) { WriteLog(event.Text()); }

MpqHandle OpenArchiveAt(const std::string& hostPath, const std::string& rawName, TStartupReport* report) {
  if (!MpqList) return 0;
  const std::string name = EscapeName(rawName);
  TMpqOpenResult open = OpenMpqArchive(hostPath);
  switch (open.status) {
    case TArchiveOpenStatus::Opened: break;
    case TArchiveOpenStatus::AlreadyOpen: WriteLog(name + " already open"); return 0;
    case TArchiveOpenStatus::ReaderStopped: ReportStop(report, name, open.stop); return 0;
    case TArchiveOpenStatus::ReaderUnavailable: {
      // One line for the reader, however many archives wait for it; none of them is at fault.
      std::string problem = open.reason;
      if (!problem.empty()) problem[0] = UpperAsciiChar(problem[0]);
      if (report == nullptr || report->readerProblem.empty()) WriteLog(problem);
      if (report) report->readerProblem = problem;
      return 0;
    }
    case TArchiveOpenStatus::CannotOpen: {
      // A list names archives an install may lack, and an empty line names the installation
      // folder itself: those are skipped without a word, as the list's lines always were.
      if (open.error == ENOENT || open.error == EISDIR) return 0;
      const std::string path = EscapeName(hostPath);
      const std::string what = "not opened: " + open.reason;
      WriteLog(path + " " + what);
      AddTrouble(report, path, what, path + " " + what);
      return 0;
    }
  }
  const MpqHandle handle = open.archive.Get();
  MpqList->Append(std::move(open.archive));
  // "%s opened, handle %d": the handle's low 32 bits as a signed decimal.
  const auto shown = static_cast<std::int32_t>(static_cast<std::uint32_t>(handle));
  WriteLog(name + " opened, handle " + std::to_string(shown));
  return handle;
}

bool IngestListFile(MpqHandle archive, const std::string& rawName, const TNewPathHook& onNewPath,
                    TStartupReport* report) {
  TListFileReport list;
  const bool result = LoadListFile(archive, onNewPath, list);
  const std::string name = EscapeName(rawName);
  if (list.stop != TReaderStop::None) {
    ReportStop(report, name, list.stop);
  } else if (const std::string problem = list.Problem(); !problem.empty()) {
    WriteLog(name + ": " + problem);
    AddTrouble(report, name, problem, name + ": " + problem);
  }
  if (!result) {
    // No "(listfile)", as many maps have none: what StormLib can name is listed all the same, and
    // the log says how many files it cannot name. That is how such archives are, not a loss.
    TKnownNamesReport known;
    LoadKnownNames(archive, onNewPath, known);
    if (known.stop != TReaderStop::None) {
      ReportStop(report, name, known.stop);
    } else if (const std::string problem = known.Problem(); !problem.empty()) {
      WriteLog(name + ": " + problem);
    }
  }
  return result;
}

std::string DiskFileTreePath(std::string_view diskPath) {
  const std::size_t slash = diskPath.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? diskPath : diskPath.substr(slash + 1);
  std::string_view dir = slash == std::string_view::npos ? std::string_view() : diskPath.substr(0, slash);
  const std::size_t up = dir.rfind('/');
  if (up != std::string_view::npos) dir = dir.substr(up + 1);
  return (dir.empty() ? std::string("/") : std::string(dir)) + "\\" + std::string(file);
}

TVirtualNode* AddDiskFile(TTreeModel& tree, const std::string& diskPath) {
  if (!RootNodes) return nullptr;
  TDiskFiles& files = DiskFilesOf(tree);
  const std::string path = AbsolutePath(diskPath);
  if (const auto it = files.byPath.find(path); it != files.byPath.end()) return it->second;

  const std::string treePath = DiskFileTreePath(path);
  const std::size_t cut = treePath.find('\\');
  const std::string folderName = UpperAscii(std::string_view(treePath).substr(0, cut));
  TVirtualNode* folder = RootNodes->Find(folderName);
  if (folder == nullptr) {
    folder = tree.AddChild(nullptr);
    folder->data.isFile = 0;
    folder->data.name = tree.StoreText(folderName);
    folder->data.children = std::make_unique<TNodeDict>();
    RootNodes->Store(folder->data.name, folder);
  }
  TVirtualNode* file = tree.AddChild(folder);
  file->data.isFile = 1;
  file->data.fullName = tree.StoreText(path);
  file->data.name = tree.StoreText(UpperAscii(std::string_view(treePath).substr(cut + 1)));
  files.nodes.insert(file);
  files.byPath.emplace(path, file);
  return file;
}

bool IsDiskFile(const TTreeModel& tree, const TVirtualNode* node) {
  return DiskFilesOf(tree).nodes.count(node) != 0;
}

std::unique_ptr<TBlpTexture> CreateNodeTexture(const TTreeModel& tree, const TVirtualNode* node) {
  const std::string name(node->data.fullName);
  // The texture loads BLP2 files; a BLP1 file is left empty by it and loaded in a second step.
  if (!IsDiskFile(tree, node)) {
    auto texture = std::make_unique<TBlpTexture>(name);
    texture->LoadBlp1();
    return texture;
  }
  std::string bytes;
  std::string error;
  if (!ReadFileBytes(name, bytes, error, static_cast<std::size_t>(blp::kExportMaxFileBytes))) bytes.clear();
  blp::TMemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  auto texture = std::make_unique<TBlpTexture>(name, source);
  texture->LoadBlp1From(source);
  return texture;
}

blp::TExportItem ExportItemOf(const TTreeModel& tree, const TVirtualNode* node) {
  const std::string name(node->data.fullName);
  if (IsDiskFile(tree, node)) return {DiskFileTreePath(name), name};
  return {name, {}};
}

bool TForm1::OpenFiles(const std::vector<std::string>& paths) {
  // The archive list and the tree belong to the start-up loading while it runs.
  if (Loading() || !MpqList || !RootNodes) return false;
  bool any = false;
  QStringList archives, blpFiles;
  TVirtualNode* firstBlp = nullptr;
  TTreeExpansion expansion;
  expansion.Save(*VirtualStringTree, *VirtualStringTreeView);
  VirtualStringTree->BeginUpdate();
  auto close = [&] {
    VirtualStringTree->SortTree(0, Qt::AscendingOrder);
    VirtualStringTree->EndUpdate();
    expansion.Restore(*VirtualStringTree, *VirtualStringTreeView);
  };
  try {
    // The archive reader is started once for all the archives dropped or chosen together.
    std::vector<std::string> archivePaths;
    for (const std::string& p : paths) {
      if (IsArchiveFileName(p)) archivePaths.push_back(AbsolutePath(p));
    }
    TArchiveReader::Instance().ExpectArchives(archivePaths);
    for (const std::string& p : paths) {
      const std::string path = AbsolutePath(p);
      if (IsArchiveFileName(path)) {
        // A later archive overrides the files it shares with the open ones, as in the list.
        const MpqHandle handle = OpenArchiveAt(path, path, &FStartupReport);
        if (handle == 0) continue;
        FArchivePaths[handle] = path;
        FArchiveNames[handle] = path;
        FArchiveHostPaths[handle] = path;
        IngestListFile(handle, path, AddNode, &FStartupReport);
        archives << QFile::decodeName(QByteArray::fromStdString(path));
        any = true;
      } else if (IsTextureFileName(path) && FileExists(path)) {
        TVirtualNode* node = AddDiskFile(*VirtualStringTree, path);
        if (node == nullptr) continue;
        if (firstBlp == nullptr) firstBlp = node;
        blpFiles << QFile::decodeName(QByteArray::fromStdString(path));
        any = true;
      }
    }
  } catch (...) {
    close();
    throw;
  }
  close();
  ShowStartupNotice();
  if (!archives.isEmpty()) FMainMenu->AddRecent({TRecentEntry::TKind::kArchives, archives});
  if (!blpFiles.isEmpty()) FMainMenu->AddRecent({TRecentEntry::TKind::kBlpFiles, blpFiles});
  // The first file opened is shown, as from the command line.
  if (firstBlp != nullptr) SelectFileNode(firstBlp);
  FMainMenu->UpdateActions();
  return any;
}

TDropOpen::TDropOpen(TForm1& form) : QObject(&form), form_(form) {
  form.setAcceptDrops(true);
  form.installEventFilter(this);
}

namespace {

// The local archives (.mpq, .w3x, .w3m) and .blp files among dragged URLs.
std::vector<std::string> DroppedFiles(const QMimeData* mime) {
  std::vector<std::string> out;
  if (mime == nullptr || !mime->hasUrls()) return out;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
    if (IsArchiveFileName(path) || IsTextureFileName(path)) out.push_back(path);
  }
  return out;
}

}  // namespace

bool TDropOpen::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (DroppedFiles(drag->mimeData()).empty() || form_.Loading()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      std::vector<std::string> files = DroppedFiles(drop->mimeData());
      if (files.empty()) return false;
      drop->acceptProposedAction();
      // Opened once the drop has been answered, so the source application is not kept waiting.
      QTimer::singleShot(0, &form_, [form = &form_, files = std::move(files)] {
        RunEventHandler(form, [&] { form->OpenFiles(files); });
      });
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

}  // namespace velmora
