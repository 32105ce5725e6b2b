// The thumbnail grid: its rows, their pictures as the view would draw them, and what it asks the
// loader for.
#include "ui/ThumbnailGrid.h"

#include <QAbstractItemDelegate>
#include <QAbstractListModel>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "log/LogHandler.h"
#include "ui/TreeModel.h"

namespace velmora {

namespace {

constexpr double kWheelNotch = 120;  // angle delta of one wheel step
// Rows whose key is kept; past this the record starts afresh (a long scroll through a large
// filter's matches).
constexpr std::size_t kMaxResolved = 8192;
// The broken-file mark: a sheet with a red cross, in screen pixels.
constexpr int kMarkWidth = 20;
constexpr int kMarkHeight = 24;
const QColor kMarkRed(208, 16, 16);

// Channel 0..255 of `c` over `back` by alpha `a`: c a + back (1 - a), rounded, as GL's mix does.
int Over(int c, int back, int a) { return (c * a + back * (255 - a) + 127) / 255; }

}  // namespace

class TThumbnailModel final : public QAbstractListModel {
public:
  explicit TThumbnailModel(TThumbnailGrid& grid) : QAbstractListModel(&grid), grid_(grid) {}
  void Reset(std::vector<TVirtualNode*> files) {
    beginResetModel();
    grid_.FFiles = std::move(files);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(grid_.FFiles.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TVirtualNode& file = *grid_.FFiles[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return grid_.nameOf ? grid_.nameOf(file) : QString();
    if (role == Qt::ToolTipRole) return grid_.ToolTipOf(index.row());
    return {};
  }

private:
  TThumbnailGrid& grid_;
};

class TThumbnailDelegate final : public QAbstractItemDelegate {
public:
  explicit TThumbnailDelegate(TThumbnailGrid& grid) : QAbstractItemDelegate(&grid), grid_(grid) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    grid_.PaintCell(*painter, option, index.row());
  }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return grid_.gridSize(); }

private:
  TThumbnailGrid& grid_;
};

TThumbnailGrid::TThumbnailGrid(QWidget* parent) : QListView(parent), FLoader(std::make_unique<TThumbnailLoader>()) {
  setObjectName(QStringLiteral("ThumbnailGrid"));
  // Rows of cells left to right, wrapped at the width: a layout that stays cheap for a filter's
  // hundred thousand matches, with the arrows, pages, Home and End of a list.
  setViewMode(QListView::ListMode);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  FModel = new TThumbnailModel(*this);
  setModel(FModel);
  setItemDelegate(new TThumbnailDelegate(*this));
  FWindow = palette().color(QPalette::Button);
  UpdateGridSize();
  FRequestTimer.setSingleShot(true);
  FRequestTimer.setInterval(0);
  connect(&FRequestTimer, &QTimer::timeout, this, &TThumbnailGrid::RequestVisible);
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit Opened(FFiles[static_cast<std::size_t>(index.row())]);
  });
  ConnectLoader();
}

TThumbnailGrid::~TThumbnailGrid() {
  // The worker stops before the cache and the rows it reports to go.
  FLoader.reset();
}

void TThumbnailGrid::ConnectLoader() {
  connect(FLoader.get(), &TThumbnailLoader::Ready, this, &TThumbnailGrid::Received, Qt::QueuedConnection);
}

void TThumbnailGrid::SetReaderProgram(const std::string& readerProgram) {
  FLoader = std::make_unique<TThumbnailLoader>(readerProgram);
  ConnectLoader();
  RequestSoon();
}

void TThumbnailGrid::ClearCache() {
  FCache.Clear();
  FResolved.clear();
  FRows.clear();
  viewport()->update();
  RequestSoon();
}

void TThumbnailGrid::SetFiles(std::vector<TVirtualNode*> files) {
  FResolved.clear();
  FRows.clear();
  FModel->Reset(std::move(files));
  if (!FFiles.empty()) setCurrentIndex(FModel->index(0));
  scrollToTop();
  RequestSoon();
}

TVirtualNode* TThumbnailGrid::CurrentFile() const {
  const QModelIndex current = currentIndex();
  if (!current.isValid() || current.row() >= static_cast<int>(FFiles.size())) return nullptr;
  return FFiles[static_cast<std::size_t>(current.row())];
}

void TThumbnailGrid::SetCurrentFile(TVirtualNode* file) {
  const auto it = std::find(FFiles.begin(), FFiles.end(), file);
  if (it == FFiles.end()) return;
  const QModelIndex index = FModel->index(static_cast<int>(it - FFiles.begin()));
  setCurrentIndex(index);
  scrollTo(index);
}

void TThumbnailGrid::SetSide(int side) {
  side = std::clamp(side, kMinSide, kMaxSide);
  if (side == FSide) return;
  FSide = side;
  FResolved.clear();
  FRows.clear();
  UpdateGridSize();
  if (currentIndex().isValid()) scrollTo(currentIndex());
  emit SideChanged(FSide);
  RequestSoon();
}

void TThumbnailGrid::SetModes(TChannel channel, TBackground background, QColor window) {
  // Around the pictures, the window's colour, as around the view's texture.
  if (palette().color(QPalette::Base) != window) {
    QPalette pal = palette();
    pal.setColor(QPalette::Base, window);
    setPalette(pal);
  }
  if (channel == FChannel && background == FBackground && window == FWindow) return;
  FChannel = channel;
  FBackground = background;
  FWindow = window;
  viewport()->update();
}

void TThumbnailGrid::UpdateGridSize() {
  const int text = fontMetrics().height();
  setGridSize(QSize(FSide + 2 * kPadding, FSide + 3 * kPadding + text));
}

std::uint32_t TThumbnailGrid::DeviceSide() const {
  return static_cast<std::uint32_t>(std::lround(FSide * devicePixelRatioF()));
}

const TThumbnailGrid::TResolved& TThumbnailGrid::Resolve(int row) {
  if (const auto it = FResolved.find(row); it != FResolved.end()) return it->second;
  if (FResolved.size() >= kMaxResolved) {
    FResolved.clear();
    FRows.clear();
  }
  TResolved r;
  const TVirtualNode& file = *FFiles[static_cast<std::size_t>(row)];
  if (sourceOf) r.source = sourceOf(file);
  const std::string side = std::to_string(DeviceSide());
  if (!r.source.problem.empty()) {
    // Nothing to read: the broken mark, kept like any made thumbnail.
    r.key = "X\n" + r.source.problem + "\n" + r.source.name;
    if (!FCache.Contains(r.key)) FCache.Store({r.key, {}, r.source.problem, {}});
  } else if (r.source.archive.empty()) {
    r.key = "D\n" + r.source.name + "\n" + side;
  } else {
    r.key = "A\n" + r.source.archive + "\n" + r.source.name + "\n" + side;
  }
  FRows[r.key].push_back(row);
  return FResolved.emplace(row, std::move(r)).first->second;
}

std::vector<int> TThumbnailGrid::VisibleRows() const {
  std::vector<int> rows;
  const int n = static_cast<int>(FFiles.size());
  if (n == 0 || !isVisible()) return rows;
  const QRect area = viewport()->rect();
  // Rows lie in order, top to bottom: the first whose cell reaches into the view, then on to the
  // first that starts below it.
  auto rect = [this](int i) { return visualRect(FModel->index(i)); };
  if (!rect(0).isValid()) return rows;
  int lo = 0, hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (rect(mid).bottom() < area.top()) lo = mid + 1; else hi = mid;
  }
  for (int i = lo; i < n; ++i) {
    const QRect r = rect(i);
    if (r.top() > area.bottom()) break;
    if (r.intersects(area)) rows.push_back(i);
  }
  return rows;
}

bool TThumbnailGrid::VisibleComplete() {
  for (int row : VisibleRows()) {
    if (!FCache.Contains(Resolve(row).key)) return false;
  }
  return true;
}

const TThumbnail* TThumbnailGrid::ThumbnailOf(int row) {
  if (row < 0 || row >= static_cast<int>(FFiles.size())) return nullptr;
  return FCache.Find(Resolve(row).key);
}

void TThumbnailGrid::RequestSoon() {
  if (!FRequestTimer.isActive()) FRequestTimer.start();
}

void TThumbnailGrid::RequestVisible() {
  std::vector<TThumbnailJob> jobs;
  const std::uint32_t side = DeviceSide();
  for (int row : VisibleRows()) {
    const TResolved& r = Resolve(row);
    if (!r.source.problem.empty() || FCache.Contains(r.key)) continue;
    jobs.push_back({r.key, r.source.archive, r.source.name, side});
  }
  // An empty list cancels whatever was wanted: the grid is hidden, or everything visible is made.
  FLoader->Want(std::move(jobs));
}

void TThumbnailGrid::Received(const TThumbnail& thumbnail) {
  if (!thumbnail.stopLog.empty()) WriteLog(thumbnail.stopLog);
  FCache.Store(thumbnail);
  if (const auto it = FRows.find(thumbnail.key); it != FRows.end()) {
    for (int row : it->second) update(FModel->index(row));
  }
  emit ThumbnailArrived();
}

QString TThumbnailGrid::ToolTipOf(int row) {
  if (row < 0 || row >= static_cast<int>(FFiles.size())) return {};
  QString tip = hintOf ? hintOf(*FFiles[static_cast<std::size_t>(row)]) : QString();
  if (const TThumbnail* t = ThumbnailOf(row); t != nullptr && !t->problem.empty()) {
    const QString problem = QString::fromUtf8(t->problem.data(), static_cast<qsizetype>(t->problem.size()));
    tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + problem;
  }
  return tip;
}

QRect TThumbnailGrid::CellBox(const QRect& cell) const {
  return QRect(cell.left() + (cell.width() - FSide) / 2, cell.top() + kPadding, FSide, FSide);
}

QRectF TThumbnailGrid::Placed(const QRect& box, std::uint32_t w, std::uint32_t h) const {
  // Centred on whole device pixels, so that each picture pixel is one device pixel.
  const double ratio = devicePixelRatioF();
  const auto side = static_cast<std::int64_t>(DeviceSide());
  const double x = static_cast<double>((side - static_cast<std::int64_t>(w)) / 2) / ratio;
  const double y = static_cast<double>((side - static_cast<std::int64_t>(h)) / 2) / ratio;
  return QRectF(box.left() + x, box.top() + y, w / ratio, h / ratio);
}

QRect TThumbnailGrid::PictureRect(int row) {
  const TThumbnail* t = ThumbnailOf(row);
  if (t == nullptr || t->Broken()) return {};
  const QRect cell = visualRect(FModel->index(row));
  return Placed(CellBox(cell), t->pixels.width, t->pixels.height).toAlignedRect();
}

QImage TThumbnailGrid::Composed(const TThumbnail& t) const {
  const auto w = static_cast<int>(t.pixels.width), h = static_cast<int>(t.pixels.height);
  QImage image(w, h, QImage::Format_RGB32);
  QColor back = FWindow;
  if (FBackground == TBackground::kBlack) back = Qt::black;
  if (FBackground == TBackground::kWhite) back = Qt::white;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = t.pixels.bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x, p += 4) {
      int r = p[0], g = p[1], b = p[2];
      const int a = p[3];
      switch (FChannel) {
        case TChannel::kRgb: break;
        case TChannel::kRed: g = b = r; break;
        case TChannel::kGreen: r = b = g; break;
        case TChannel::kBlue: r = g = b; break;
        case TChannel::kAlpha: r = g = b = a; break;
        case TChannel::kRgba: {
          QColor under = back;
          // Squares of kCheckerCell device pixels from the picture's corner, the first light.
          if (FBackground == TBackground::kChecker) {
            const TRgb c = ((x / kCheckerCell + y / kCheckerCell) & 1) == 0 ? kCheckerLight : kCheckerDark;
            under = QColor(c.r, c.g, c.b);
          }
          r = Over(r, under.red(), a);
          g = Over(g, under.green(), a);
          b = Over(b, under.blue(), a);
          break;
        }
      }
      line[x] = qRgb(r, g, b);
    }
  }
  image.setDevicePixelRatio(devicePixelRatioF());
  return image;
}

void TThumbnailGrid::PaintCell(QPainter& painter, const QStyleOptionViewItem& option, int row) {
  const QRect cell = option.rect;
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  if (selected) painter.fillRect(cell, option.palette.color(QPalette::Highlight));
  const QRect box = CellBox(cell);
  if (const TThumbnail* t = ThumbnailOf(row); t == nullptr) {
    // Not made yet: the square it will fill.
    painter.setPen(QPen(option.palette.color(QPalette::Mid), 1, Qt::DotLine));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
  } else if (t->Broken()) {
    // A sheet with a red cross.
    const QRect sheet(box.center().x() - kMarkWidth / 2, box.center().y() - kMarkHeight / 2, kMarkWidth, kMarkHeight);
    painter.setPen(QPen(QColor(96, 96, 96), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(sheet);
    painter.setPen(QPen(kMarkRed, 3));
    painter.drawLine(sheet.topLeft() + QPoint(5, 6), sheet.bottomRight() - QPoint(5, 6));
    painter.drawLine(sheet.topRight() + QPoint(-5, 6), sheet.bottomLeft() + QPoint(5, -6));
    painter.setBrush(Qt::NoBrush);
  } else {
    const QImage image = Composed(*t);
    painter.drawImage(Placed(box, t->pixels.width, t->pixels.height).topLeft(), image);
  }
  if ((option.state & QStyle::State_HasFocus) != 0) {
    painter.setPen(QPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine));
    painter.drawRect(cell.adjusted(0, 0, -1, -1));
  }
  const QRect text(cell.left() + 2, box.bottom() + 1 + kPadding, cell.width() - 4, fontMetrics().height());
  const QString name = FModel->data(FModel->index(row), Qt::DisplayRole).toString();
  painter.setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter.drawText(text, Qt::AlignHCenter | Qt::AlignTop, fontMetrics().elidedText(name, Qt::ElideMiddle, text.width()));
}

void TThumbnailGrid::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
    if (TVirtualNode* file = CurrentFile()) emit Opened(file);
    event->accept();
    return;
  }
  QListView::keyPressEvent(event);
}

void TThumbnailGrid::wheelEvent(QWheelEvent* event) {
  if ((event->modifiers() & Qt::ControlModifier) == 0) {
    QListView::wheelEvent(event);
    return;
  }
  // A notch is one step; a touchpad's small deltas add up to one.
  FWheelSteps += event->angleDelta().y() / kWheelNotch;
  while (FWheelSteps >= 1) {
    FWheelSteps -= 1;
    Larger();
  }
  while (FWheelSteps <= -1) {
    FWheelSteps += 1;
    Smaller();
  }
  event->accept();
}

void TThumbnailGrid::scrollContentsBy(int dx, int dy) {
  QListView::scrollContentsBy(dx, dy);
  RequestSoon();
}

void TThumbnailGrid::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  RequestSoon();
}

void TThumbnailGrid::updateGeometries() {
  QListView::updateGeometries();
  RequestSoon();
}

void TThumbnailGrid::showEvent(QShowEvent* event) {
  QListView::showEvent(event);
  RequestSoon();
}

void TThumbnailGrid::hideEvent(QHideEvent* event) {
  QListView::hideEvent(event);
  // Nothing is visible: nothing is wanted.
  FRequestTimer.stop();
  FLoader->Want({});
}

}  // namespace velmora
