// The grid of thumbnails that takes the view's place for a folder, or for every file the filter
// lets through: each file as a picture of up to side x side screen pixels (64 to 256), aspect kept,
// with its name under it, drawn with the view's channel and background. Pictures are made off the
// user-interface thread (ui/ThumbnailLoader.h) for the visible rows only, top row first; scrolling
// cancels what is no longer visible. Made pictures are kept in a cache bounded in bytes
// (ui/ThumbnailCache.h), so showing a folder again reuses them. A file that cannot be decoded shows
// a broken-file mark, its tooltip says why.
//
// Keys: arrows, Page Up/Down, Home and End move; Enter (or a double click) opens the file;
// Ctrl+wheel changes the size. The window's actions add Ctrl+= / Ctrl+- and Ctrl+C.
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QListView>
#include <QString>
#include <QTimer>

class QPainter;
class QStyleOptionViewItem;

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/ViewState.h"
#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailLoader.h"

namespace velmora {

struct TVirtualNode;
class TThumbnailModel;

// Where a file's bytes are, for its thumbnail.
struct TThumbnailSource {
  std::string archive;  // the archive's path on this host; empty for a file on disk
  std::string name;     // the member name as the archive lists it, or the path on disk
  std::string problem;  // set when the file cannot be found at all: shown broken, with this
};

class TThumbnailGrid : public QListView {
  Q_OBJECT

public:
  static constexpr int kMinSide = 64;
  static constexpr int kMaxSide = 256;
  static constexpr int kDefaultSide = 128;
  static constexpr int kSideStep = 32;
  // Room around each picture, and between the picture and its name, in screen pixels.
  static constexpr int kPadding = 4;

  explicit TThumbnailGrid(QWidget* parent = nullptr);
  ~TThumbnailGrid() override;
  TThumbnailGrid(const TThumbnailGrid&) = delete;
  TThumbnailGrid& operator=(const TThumbnailGrid&) = delete;

  // Where each file's bytes are (asked for visible rows only, on this thread), and the words of
  // its tooltip before any problem (its path, its archive). Set before the first SetFiles.
  std::function<TThumbnailSource(const TVirtualNode& file)> sourceOf;
  std::function<QString(const TVirtualNode& file)> hintOf;
  // The name under each thumbnail.
  std::function<QString(const TVirtualNode& file)> nameOf;

  // The files shown, in order; the first becomes the current one. Nodes must stay valid while
  // shown (SetFiles({}) before the tree is cleared).
  void SetFiles(std::vector<TVirtualNode*> files);
  const std::vector<TVirtualNode*>& Files() const { return FFiles; }
  // The node of the current thumbnail; null without one.
  TVirtualNode* CurrentFile() const;
  void SetCurrentFile(TVirtualNode* file);

  // The picture's square in screen pixels, within kMinSide..kMaxSide.
  int Side() const { return FSide; }
  void SetSide(int side);
  void Larger() { SetSide(FSide + kSideStep); }
  void Smaller() { SetSide(FSide - kSideStep); }

  // The view's channel and background; `window` is the window's colour.
  void SetModes(TChannel channel, TBackground background, QColor window);

  // A new loader running `readerProgram` (empty: the window's reader) in place of the current
  // one; what was wanted is asked of it again.
  void SetReaderProgram(const std::string& readerProgram);
  TThumbnailLoader& Loader() const { return *FLoader; }
  TThumbnailCache& Cache() { return FCache; }
  // Forgets every picture made (another set of archives may hold other files under the same
  // names) and asks again for those visible.
  void ClearCache();

  // The rows at least partly in view, top row first.
  std::vector<int> VisibleRows() const;
  // True when every visible row has its thumbnail (a picture or a broken mark).
  bool VisibleComplete();
  // The thumbnail of `row` as made for the current size; null while it is not.
  const TThumbnail* ThumbnailOf(int row);
  // Where the picture of `row` lies, in viewport coordinates (screen pixels); empty without one.
  QRect PictureRect(int row);
  // The tooltip of `row`: its hint and, for a thumbnail with a problem, the problem.
  QString ToolTipOf(int row);

signals:
  // Enter or a double click on a thumbnail.
  void Opened(velmora::TVirtualNode* file);
  // The size changed (Ctrl+wheel, the actions).
  void SideChanged(int side);
  // A thumbnail arrived and was drawn.
  void ThumbnailArrived();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void updateGeometries() override;

private:
  friend class TThumbnailDelegate;
  friend class TThumbnailModel;
  struct TResolved {
    std::string key;
    TThumbnailSource source;
  };

  // The key and source of `row` at the current size, worked out once per row and size.
  const TResolved& Resolve(int row);
  // Asks the loader for the visible rows that have no thumbnail yet, once events have run.
  void RequestSoon();
  void RequestVisible();
  void Received(const TThumbnail& thumbnail);
  void ConnectLoader();
  void UpdateGridSize();
  std::uint32_t DeviceSide() const;
  // The picture as the view would draw it: channel, background, one pixel per device pixel.
  QImage Composed(const TThumbnail& thumbnail) const;
  // Where a picture of w x h device pixels lies in the square `box`, in screen pixels.
  QRectF Placed(const QRect& box, std::uint32_t w, std::uint32_t h) const;
  QRect CellBox(const QRect& cell) const;
  void PaintCell(QPainter& painter, const QStyleOptionViewItem& option, int row);

  std::vector<TVirtualNode*> FFiles;
  TThumbnailModel* FModel = nullptr;
  std::unique_ptr<TThumbnailLoader> FLoader;
  TThumbnailCache FCache;
  std::unordered_map<int, TResolved> FResolved;            // by row, for the current files and size
  std::unordered_map<std::string, std::vector<int>> FRows;  // resolved keys -> their rows
  int FSide = kDefaultSide;
  TChannel FChannel = TChannel::kRgba;
  TBackground FBackground = TBackground::kWindow;
  QColor FWindow;
  QTimer FRequestTimer;
  double FWheelSteps = 0;
};

}  // namespace velmora
