// Files the user names, on the command line or by dropping them on the window: archives opened at
// their place on this host and appended to the archive list; BLP files read from the disk and
// shown in the tree under a top folder named after their directory.
//
// A file node of a BLP file on disk keeps the file's absolute path as its fullName, so the filter
// matches the path on disk; the table below tells such nodes from archive paths.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Zanth.h"
#include "blp/BlpExport.h"
#include "host/LoadPlan.h"

namespace velmora {

class TBlpTexture;
class TForm1;
class TTreeModel;
struct TVirtualNode;

// Opens the archive at `hostPath` as the start-up loading does for a line `name`: appends it to
// MpqList and logs "<name> opened, handle <n>"; logs "<name> already open" for an archive open
// under another mention, "<name> skipped: the archive reader stopped (<reason>)" (and what the
// reader said last) for one that stopped the reader, and "<hostPath> not opened: <reason>" for
// one that cannot be opened (a path with no file, or a folder, is skipped silently, as lists name
// archives an install may lack). Each of these, and a reader that cannot run (logged once), go
// into `report` when given. Names are escaped. Returns the new archive's handle, else 0.
MpqHandle OpenArchiveAt(const std::string& hostPath, const std::string& name, TStartupReport* report = nullptr);

// LoadListFile for the archive opened as `name`, logging and adding to `report` (when given) a
// file list that stopped the reader ("<name> skipped: the archive reader stopped (<reason>)") or
// was refused, cut or not read ("<name>: (listfile) ..."). An archive without one gets the names
// StormLib knows (LoadKnownNames), and the log says how many files it cannot name. Returns
// LoadListFile's result.
bool IngestListFile(MpqHandle archive, const std::string& name, const TNewPathHook& onNewPath,
                    TStartupReport* report = nullptr);

// Logs a request that stopped the archive reader, at any stage, with what the reader said last:
// the archive reader's stop hook in the window and the headless export.
void LogReaderStop(const TReaderStopEvent& event);

// Where a BLP file on disk shows in the tree: "<directory name>\<file name>" ("/" for the root).
std::string DiskFileTreePath(std::string_view diskPath);

// Adds the BLP file at `diskPath` (made absolute) to `tree`: a top-level folder named after its
// directory (upper-cased like every name; an archive's folder of that name is shared), the file
// node inside. A file added before is not added again. Returns the file node; null without
// RootNodes.
TVirtualNode* AddDiskFile(TTreeModel& tree, const std::string& diskPath);

// True when `node` of `tree` is a BLP file on disk.
bool IsDiskFile(const TTreeModel& tree, const TVirtualNode* node);

// The texture of a file node: read from the disk for a file on disk (a file that cannot be read
// gives an empty texture, as a missing archive file does), else from the archives.
std::unique_ptr<TBlpTexture> CreateNodeTexture(const TTreeModel& tree, const TVirtualNode* node);

// What the export reads for a file node.
blp::TExportItem ExportItemOf(const TTreeModel& tree, const TVirtualNode* node);

// Accepts archives and BLP files dragged over `form` (and over its drawing panel) and opens them
// through TForm1::OpenFiles.
class TDropOpen : public QObject {
  Q_OBJECT

public:
  explicit TDropOpen(TForm1& form);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  TForm1& form_;
};

}  // namespace velmora
