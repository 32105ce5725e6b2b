// The shortcut list window.
#include "ui/ShortcutHelp.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

constexpr const char* kDialogName = "ShortcutHelp";

// What is done without a shortcut of an action: by the mouse, Esc and drops.
struct TOtherInput {
  const char* what;
  const char* how;
};
constexpr TOtherInput kOtherInputs[] = {
    {"Scroll; scroll sideways", "Wheel; Shift+wheel"},
    {"Zoom around the pointer", "Ctrl+wheel"},
    {"Pan the picture", "Drag with the left or middle button"},
    {"The view's menu", "Right-click on the view"},
    {"Export a folder as PNG", "Right-click on a folder in the tree"},
    {"Clear the filter", "Esc, in the filter line or the tree"},
    {"Open archives and BLP files", "Drop them on the window"},
};

QString Shortcuts(const QAction& action) {
  QStringList keys;
  for (const QKeySequence& key : action.shortcuts()) keys << key.toString(QKeySequence::NativeText);
  return keys.join(QStringLiteral(", "));
}

}  // namespace

QDialog* ShowShortcutHelp(QWidget& window) {
  auto* dialog = window.findChild<QDialog*>(QLatin1String(kDialogName), Qt::FindDirectChildrenOnly);
  if (dialog == nullptr) {
    dialog = new QDialog(&window);
    dialog->setObjectName(QLatin1String(kDialogName));
    dialog->setWindowTitle(QStringLiteral("Keyboard shortcuts"));
    auto* layout = new QVBoxLayout(dialog);
    auto* table = new QTableWidget(0, 2, dialog);
    table->setObjectName(QStringLiteral("ShortcutTable"));
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table->setHorizontalHeaderLabels({QStringLiteral("Action"), QStringLiteral("Keys and mouse")});
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(460, 420);
  }
  auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("ShortcutTable"));
  table->setRowCount(0);
  for (const QAction* action : window.actions()) {
    const QString keys = Shortcuts(*action);
    if (keys.isEmpty()) continue;
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(action->text().remove(QLatin1Char('&'))));
    table->setItem(row, 1, new QTableWidgetItem(keys));
  }
  for (const TOtherInput& input : kOtherInputs) {
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(QString::fromLatin1(input.what)));
    table->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(input.how)));
  }
  // Tall enough for every row without scrolling, as far as the screen allows.
  const int rows = table->horizontalHeader()->height() + table->rowCount() * table->verticalHeader()->defaultSectionSize();
  dialog->resize(dialog->width(), std::min(rows + 80, 720));
  dialog->show();
  dialog->raise();
  return dialog;
}

}  // namespace velmora
