// The versions of the selected file, which of them the view shows, and Compare.
#include "ui/FileVersions.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>

#include <memory>
#include <span>

#include "archive/PathParts.h"
#include "archive/Zanth.h"
#include "base/Ascii.h"
#include "base/Escape.h"
#include "blp/LevelPixels.h"
#include "blp/VersionDiff.h"
#include "render/View.h"
#include "render/ViewNotice.h"
#include "ui/ErrorHandler.h"
#include "ui/NamedFiles.h"
#include "ui/ScrollBox.h"
#include "ui/TreeModel.h"
#include "ui/UnitMain.h"
#include "ui/ViewControls.h"

namespace velmora {

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

TFileVersions::TFileVersions(TForm1& form) : QObject(&form), FForm(form) {
  auto add = [&](const char* name, const QString& text, const QKeySequence& keys) {
    auto* action = new QAction(text, &form);
    action->setObjectName(QString::fromLatin1(name));
    if (!keys.isEmpty()) action->setShortcut(keys);
    // A window action: its shortcut works wherever the focus is, the tree included.
    action->setShortcutContext(Qt::WindowShortcut);
    form.addAction(action);
    return action;
  };
  FPreviousAction = add("PreviousVersion", QStringLiteral("Previous version"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Up));
  FNextAction = add("NextVersion", QStringLiteral("Next version"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Down));
  FCompareAction = add("CompareVersions", QStringLiteral("Compare"), {});
  FCompareAction->setCheckable(true);
  FCompareAction->setToolTip(QStringLiteral("Show the difference from the version before: equal texels dark, the others "
                                            "as grey at their largest channel difference"));
  connect(FPreviousAction, &QAction::triggered, this, [this] { RunEventHandler(&FForm, [this] { Previous(); }); });
  connect(FNextAction, &QAction::triggered, this, [this] { RunEventHandler(&FForm, [this] { Next(); }); });
  connect(FCompareAction, &QAction::toggled, this, [this](bool on) { RunEventHandler(&FForm, [this, on] { SetCompare(on); }); });
  UpdateActions();
}

std::string TFileVersions::ShownSpelling() const {
  if (FShown < 0) return FPath;
  return std::string(TrimBlanks(FSources[static_cast<std::size_t>(FShown)].member));
}

void TFileVersions::FileSelected(const TVirtualNode* node) {
  if (node == nullptr || node->data.isFile != 1) return;
  FHasFile = true;
  FPath = std::string(node->data.fullName);
  FOnDisk = IsDiskFile(*FForm.VirtualStringTree, node);
  FSources.clear();
  if (!FOnDisk && FileIndex) {
    for (const TFileMpqRec& rec : FileIndex->Sources(UpperAscii(FPath))) {
      FSources.push_back({rec.mpqh, std::string(rec.full_name)});
    }
  }
  FShown = static_cast<int>(FSources.size()) - 1;
  FCompareProblem.clear();
  TakeFacts();
  if (FCompare && !FOnDisk) ShowDifference();
  UpdateActions();
  emit Changed();
}

void TFileVersions::Forget() {
  if (!FHasFile) return;
  FHasFile = false;
  FPath.clear();
  FOnDisk = false;
  FSources.clear();
  FShown = -1;
  FCompareProblem.clear();
  ClearFacts();
  UpdateActions();
  emit Changed();
}

void TFileVersions::Choose(int index) {
  if (!FHasFile || index < 0 || index >= static_cast<int>(FSources.size())) return;
  FShown = index;
  FCompareProblem.clear();
  ShowVersion();
  if (FCompare) ShowDifference();
  UpdateActions();
  emit Changed();
}

void TFileVersions::SetCompare(bool on) {
  // The action's check mark is the switch: setting it comes back here through its signal.
  if (FCompareAction->isChecked() != on) {
    FCompareAction->setChecked(on);
    return;
  }
  if (FCompare == on) return;
  FCompare = on;
  FCompareProblem.clear();
  if (FHasFile && !FOnDisk && FShown >= 0) {
    // On: the version shown gives way to its difference; off: it comes back.
    if (on) {
      ShowDifference();
    } else {
      ShowVersion();
    }
  }
  emit Changed();
}

void TFileVersions::ShowVersion() {
  const TSource source = FSources[static_cast<std::size_t>(FShown)];
  TViewControls* controls = FForm.ViewControls();
  const int level = controls != nullptr ? controls->State().level : 0;
  FForm.ShowOtherTexture([&] {
    auto texture = std::make_unique<TBlpTexture>(FPath, source.archive, source.member);
    texture->LoadBlp1();
    return texture;
  });
  // The level looked at stays in view from one version to the next, as far as the version has it.
  if (controls != nullptr && CurrentTexture) controls->SetLevel(level);
  TakeFacts();
}

void TFileVersions::ClearFacts() {
  FLoaded = false;
  FFacts = {};
  FFileSize = 0;
  FHasSource = false;
  FTrouble.clear();
  FHeaderStatus.clear();
}

void TFileVersions::TakeFacts() {
  ClearFacts();
  // The shown texture is this file's unless no texture could be made of it (no view, an
  // allocation error).
  if (!CurrentTexture || CurrentTexture->fname() != FPath) return;
  const TBlpTexture& texture = *CurrentTexture;
  FLoaded = true;
  FHasSource = texture.HasSource();
  FFileSize = texture.SourceSize();
  FFacts = blp::DescribeBlpFile(texture.hdr, texture.Blp1Header(), texture.Levels(), texture.SourceSize());
  FTrouble = FromUtf8(EscapeName(TextureNotice(texture)));
  FHeaderStatus = FForm.StatusText(0);
}

void TFileVersions::ShowDifference() {
  auto say = [this](const QString& problem) {
    FCompareProblem = problem;
    if (!ViewBox) return;
    const QString notice = ViewBox->NoticeLabel()->text();
    ViewBox->ShowNotice((notice.isEmpty() ? QString() : notice + QLatin1Char('\n')) + QStringLiteral("Compare: ") + problem);
  };
  if (FShown < 0) return;
  if (FShown == 0) {
    say(QStringLiteral("no earlier version: no archive before this one holds the file"));
    return;
  }
  if (!FLoaded || !CurrentTexture) {
    say(QStringLiteral("this version cannot be shown"));
    return;
  }
  // The version shown as the view has it, and the one before read afresh from its archive.
  std::vector<blp::TRgbaPixels> shown;
  for (std::size_t i = 0; i < CurrentTexture->Levels().levels.size(); ++i) {
    shown.push_back(blp::LevelToRgba(CurrentTexture->Levels(), i));
  }
  const TSource& before = FSources[static_cast<std::size_t>(FShown - 1)];
  const QString beforeName = FromUtf8(EscapeName(FForm.ArchivePathOf(before.archive).toStdString()));
  const blp::TVersionPixels earlier = blp::ReadVersionPixels(before.archive, before.member);
  if (!earlier.problem.empty()) {
    say(QStringLiteral("the version in %1: %2").arg(beforeName, FromUtf8(EscapeName(earlier.problem))));
    return;
  }
  const blp::TDifference diff = blp::DifferenceOf(shown, earlier.levels);
  if (!diff.problem.empty()) {
    say(FromUtf8(diff.problem) + QStringLiteral(" in ") + beforeName);
    return;
  }

  TViewControls* controls = FForm.ViewControls();
  const int level = controls != nullptr ? controls->State().level : 0;
  const QString archive = FForm.ArchivePathOf(FSources[static_cast<std::size_t>(FShown)].archive);
  const std::vector<std::uint8_t> file = blp::EncodeUncompressedBlp(diff.levels);
  FForm.ShowOtherTexture([&] {
    blp::TMemorySource source(std::span(file.data(), file.size()));
    return std::make_unique<TBlpTexture>(FPath, source);
  });
  if (!CurrentTexture) return;
  // The status bar and the strip go on naming the version; the readout says what the picture is.
  FForm.SetStatusText(0, FHeaderStatus);
  if (controls != nullptr) {
    controls->SetLevel(level);
    controls->SetShownSource(archive, QStringLiteral("difference from ") + beforeName);
  }
}

void TFileVersions::UpdateActions() {
  // Enabled while a file is shown, at the first and last version too: a disabled action would
  // let its keys through to the tree, which would take them to another file.
  FPreviousAction->setEnabled(FHasFile);
  FNextAction->setEnabled(FHasFile);
}

}  // namespace velmora
