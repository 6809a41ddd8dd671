// The main dialog's controls, placed from dialog units by the dialog font's base units.
#include "ui/dialog_template.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

namespace dialog_template {

const control kControls[22] = {
    {kTree, control_kind::tree, "", 10, 57, 586, 161},
    {kFrame, control_kind::group_box, "Database: None", 6, 6, 593, 290},
    {kCreateDb, control_kind::push_button, "Create new DB", 359, 19, 74, 17},
    {kOpenDb, control_kind::push_button, "Open DB", 438, 19, 74, 17},
    {kSaveDb, control_kind::push_button, "Save DB", 516, 19, 74, 17},
    {kCleanDb, control_kind::push_button, "Update/Clean DB", 174, 18, 74, 17},
    {kScanDirectory, control_kind::push_button, "Scan Directory", 95, 18, 74, 17},
    {kAddFile, control_kind::push_button, "Add File", 17, 18, 74, 17},
    {kDeleteSelected, control_kind::push_button, "Delete selected files", 497, 223, 94, 27},
    {kMiddleLine, control_kind::label, "", 11, 273, 584, 9},
    {kUpperLine, control_kind::label, "", 11, 263, 586, 8},
    {kLowerLine, control_kind::label, "Status: nothing to do.", 11, 284, 586, 8},
    {kDeleteAllDuplicates, control_kind::push_button, "Delete all duplicate files", 398, 223, 96, 27},
    {kSearchWords, control_kind::edit, "", 15, 241, 166, 12},
    {kSearchLabel, control_kind::label, "Search the whole db for Mp3s :", 17, 228, 105, 10},
    {kSearch, control_kind::push_button, "Search", 125, 225, 56, 14},
    {kViewDuplicates, control_kind::push_button, "View only Duplicates", 399, 255, 94, 17},
    {kViewAll, control_kind::push_button, "View All Mp3s", 497, 254, 94, 18},
    {kViewHeading, control_kind::centred_label, "Duplicates View", 199, 39, 207, 12},
    {kAbort, control_kind::push_button, "abort scanning", 95, 36, 74, 17},
    {kViewSearchResults, control_kind::push_button, "View Search Results", 300, 255, 95, 17},
    {kMoveFiles, control_kind::push_button, "Move Files into a directory", 299, 223, 96, 27},
};

base_units units_of(const QFont& font) {
  // The system's own definition: the mean advance of the 52 Latin letters, rounded, and the
  // character cell height.
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect to_pixels(const base_units& units, int x, int y, int w, int h) {
  // Rounded to the nearest pixel, as the system's own mapping of dialog rectangles does.
  auto px = [&](int dlu) { return (dlu * units.x + 2) / 4; };
  auto py = [&](int dlu) { return (dlu * units.y + 4) / 8; };
  return QRect(px(x), py(y), px(w), py(h));
}

QString object_name(int id) { return QStringLiteral("control_%1").arg(id); }

QWidget* find(const QWidget* dialog, int id) {
  return dialog->findChild<QWidget*>(object_name(id), Qt::FindDirectChildrenOnly);
}

namespace {

QWidget* create(const control& c, QDialog* dialog) {
  const QString text = QString::fromLatin1(c.text);
  switch (c.kind) {
    case control_kind::tree: {
      auto* tree = new QTreeView(dialog);
      tree->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      return tree;
    }
    case control_kind::group_box: {
      auto* box = new QGroupBox(text, dialog);
      box->setAlignment(Qt::AlignHCenter);
      return box;
    }
    case control_kind::push_button: {
      // No default button: Enter presses nothing, as the dialog has no OK command.
      auto* button = new QPushButton(text, dialog);
      button->setAutoDefault(false);
      return button;
    }
    case control_kind::label:
    case control_kind::centred_label: {
      auto* label = new QLabel(dialog);
      // Status texts carry file names: never read them as markup.
      label->setTextFormat(Qt::PlainText);
      label->setText(text);
      if (c.kind == control_kind::centred_label) label->setAlignment(Qt::AlignCenter);
      return label;
    }
    case control_kind::edit: {
      auto* edit = new QLineEdit(text, dialog);
      edit->setFrame(true);
      return edit;
    }
  }
  return nullptr;
}

}  // namespace

void build(QDialog* dialog) {
  const base_units units = units_of(dialog->font());
  for (const control& c : kControls) {
    QWidget* widget = create(c, dialog);
    widget->setObjectName(object_name(c.id));
    widget->setGeometry(to_pixels(units, c.x, c.y, c.w, c.h));
  }
  find(dialog, kFrame)->lower();
  // The status lines say which they are, as their texts change all the time.
  find(dialog, kLowerLine)->setAccessibleDescription(QStringLiteral("lower status line"));
  find(dialog, kMiddleLine)->setAccessibleDescription(QStringLiteral("middle status line"));
  find(dialog, kUpperLine)->setAccessibleDescription(QStringLiteral("upper status line"));
  // The search box is named by the label above it, for screen readers and the like.
  qobject_cast<QLabel*>(find(dialog, kSearchLabel))->setBuddy(find(dialog, kSearchWords));
  const QRect frame = to_pixels(units, kDialogX, kDialogY, kDialogWidth, kDialogHeight);
  dialog->resize(frame.size());
  dialog->move(frame.topLeft());
}

}  // namespace dialog_template
