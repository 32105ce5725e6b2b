// The versions of the selected file: every open archive whose file list holds its path, in
// loading order, the last of them supplying it; which one the view shows (the supplier after a
// selection, another one chosen in the info panel or stepped to with Ctrl+Shift+Up and
// Ctrl+Shift+Down), and Compare, which shows the difference between the version shown and the one
// before it (blp/VersionDiff.h) or says why it cannot. Save, copy, the readout and the info panel
// follow the version shown, since it is the window's shown texture.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ReaderClient.h"
#include "blp/FileFacts.h"

class QAction;

namespace velmora {

class TForm1;
class TBlpTexture;
struct TVirtualNode;

class TFileVersions : public QObject {
  Q_OBJECT

public:
  struct TSource {
    MpqHandle archive = 0;
    std::string member;  // the line of that archive's listfile: the name it is opened under
  };

  // Adds the window actions "Previous version" (Ctrl+Shift+Up), "Next version"
  // (Ctrl+Shift+Down), enabled while a file is shown, and the checkable "Compare" to `form`.
  explicit TFileVersions(TForm1& form);

  // The window has just shown the file node `node` as the tree selected it (the supplier's
  // version): its sources are listed anew and the supplier is the version shown; with Compare on
  // the difference to the version before is shown in its place. Folders change nothing.
  void FileSelected(const TVirtualNode* node);
  // No file is shown any more (the window emptied the view): the list goes.
  void Forget();

  bool HasFile() const { return FHasFile; }
  // The file's path as the tree gives it (its first listfile's spelling; for a file on disk, its
  // place there).
  const std::string& Path() const { return FPath; }
  bool OnDisk() const { return FOnDisk; }
  // The path as the shown version's listfile spells it (trimmed); the disk path for a file on disk.
  std::string ShownSpelling() const;
  const std::vector<TSource>& Sources() const { return FSources; }
  // The index in Sources() of the version shown; -1 without one. The supplier is the last.
  int Shown() const { return FShown; }

  // Shows the version of Sources()[index] (with Compare on, its difference to the one before).
  void Choose(int index);
  void Previous() { Choose(FShown - 1); }
  void Next() { Choose(FShown + 1); }
  void SetCompare(bool on);
  bool Comparing() const { return FCompare; }
  // Why Compare shows no difference for the version shown ("no earlier version: ...", "the sizes
  // differ: 64 x 64 against 32 x 32"); empty when it shows one or is off.
  const QString& CompareProblem() const { return FCompareProblem; }

  // The version shown, as it was loaded: its header and levels in words, its size in bytes, and
  // why it cannot be shown whole (the view's notice); FileLoaded is false when no texture of it
  // could be made.
  bool FileLoaded() const { return FLoaded; }
  const blp::TFileFacts& Facts() const { return FFacts; }
  std::uint64_t FileSize() const { return FFileSize; }
  bool HasSource() const { return FHasSource; }
  const QString& Trouble() const { return FTrouble; }

  QAction* PreviousAction() const { return FPreviousAction; }
  QAction* NextAction() const { return FNextAction; }
  QAction* CompareAction() const { return FCompareAction; }

signals:
  // The list, the version shown, Compare or the facts changed.
  void Changed();

private:
  // Makes the version of Sources()[FShown] the window's shown texture, keeping the mip level.
  void ShowVersion();
  // Reads what the info panel tells of the shown texture, which is the version FShown.
  void TakeFacts();
  // What TakeFacts read, forgotten.
  void ClearFacts();
  // Puts the difference between the shown version and the one before it in its place, or says
  // why there is none.
  void ShowDifference();
  void UpdateActions();

  TForm1& FForm;
  bool FHasFile = false;
  std::string FPath;
  bool FOnDisk = false;
  std::vector<TSource> FSources;
  int FShown = -1;
  bool FCompare = false;
  QString FCompareProblem;

  bool FLoaded = false;
  blp::TFileFacts FFacts;
  std::uint64_t FFileSize = 0;
  bool FHasSource = false;
  QString FTrouble;
  QString FHeaderStatus;  // status panel 0 for the version, kept while its difference is shown

  QAction* FPreviousAction = nullptr;
  QAction* FNextAction = nullptr;
  QAction* FCompareAction = nullptr;
};

}  // namespace velmora
