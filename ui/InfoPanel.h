// The panel right of the view that tells about the file shown (View -> "File info", Ctrl+I): its
// path as its listfile spells it, with a "Copy path" button; its size in bytes; its header in words
// and every level the header lists with its size, offset and byte count, short and missing levels
// marked; and its sources, every open archive that holds the path in loading order with the
// supplier marked, where choosing one shows that archive's version. "Compare" shows the difference
// from the version before (ui/FileVersions.h). Whether the panel is open is kept for the next start.
// Names from archives are shown escaped.
#pragma once

#include <QFrame>
#include <QString>

class QAction;
class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;
class QTreeWidget;

namespace velmora {

class TForm1;
class TFileVersions;

class TInfoPanel : public QFrame {
  Q_OBJECT

public:
  // Puts itself right of the view in the window's splitter, open as it was left; adds its toggle
  // ("File info", Ctrl+I) and the version actions to the window and to its View menu, and follows
  // the tree's selection.
  explicit TInfoPanel(TForm1& form);

  // The check mark is whether the panel is open.
  QAction* ToggleAction() const { return FToggle; }
  void SetOpen(bool open);
  TFileVersions& Versions() const { return *FVersions; }

  // What it shows, as plain text (tests read it).
  QString PathText() const;
  QString SizeText() const;
  QString HeaderText() const;
  QTreeWidget* LevelTable() const { return FLevels; }
  QListWidget* SourceList() const { return FSources; }
  QString CompareText() const;
  QPushButton* CopyPathButton() const { return FCopyPath; }

  // The words a source entry shows: the archive, with " (supplies it)" for the last one.
  static QString SourceEntryText(const QString& archive, bool supplier);
  // Columns of the level table.
  enum TColumn { kLevelColumn, kSizeColumn, kOffsetColumn, kBytesColumn, kNoteColumn, kColumnCount };

private:
  void Refresh();
  void ChooseRow(int row);
  void CopyPath();
  // Gives the panel room in the splitter when it opens with none.
  void MakeRoom();

  TForm1& FForm;
  TFileVersions* FVersions = nullptr;  // a child of the window
  QAction* FToggle = nullptr;
  QLabel* FPath = nullptr;
  QPushButton* FCopyPath = nullptr;
  QLabel* FSize = nullptr;
  QLabel* FHeader = nullptr;
  QLabel* FTrouble = nullptr;
  QTreeWidget* FLevels = nullptr;
  QLabel* FSourcesNote = nullptr;
  QListWidget* FSources = nullptr;
  QToolButton* FCompare = nullptr;
  QLabel* FCompareNote = nullptr;
  bool FRefreshing = false;
};

}  // namespace velmora
