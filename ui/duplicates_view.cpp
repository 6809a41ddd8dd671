// The duplicates view's listing on the tree of the main dialog.
#include "ui/duplicates_view.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTreeView>

#include <string>
#include <utility>

#include "database/mp3_db.h"
#include "ui/dialog_template.h"
#include "ui/duplicates_model.h"
#include "ui/status_lines.h"

void PrepareTreeView(QTreeView* tree) {
  tree->setModel(new DuplicatesModel(tree));
  // Groups stay open: the view has no expand buttons, as every file is meant to be seen.
  tree->setRootIsDecorated(false);
  tree->setItemsExpandable(false);
  tree->setUniformRowHeights(true);  // keeps a million rows cheap to lay out and scroll
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  // Cells, not rows: the accessibility bridge selects a row by its number among the top-level
  // rows, which misses the copies inside groups; a cell it selects exactly.
  tree->setSelectionBehavior(QAbstractItemView::SelectItems);
  tree->setDragDropMode(QAbstractItemView::NoDragDrop);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tree->setAccessibleName(QStringLiteral("Duplicates View"));
  // The item an assistive tool selects becomes the current one, which Space ticks: the way
  // a screen reader (or a test over the accessibility bus) ticks a copy.
  QObject::connect(tree->selectionModel(), &QItemSelectionModel::selectionChanged, tree,
                   [tree](const QItemSelection& selected) {
                     if (selected.isEmpty()) return;
                     const QModelIndex first = selected.indexes().first().siblingAtColumn(0);
                     if (first != tree->currentIndex())
                       tree->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
                   });
  // The tag columns have a header; each starts at a width for its usual texts, and none is
  // sized to its contents, which would read the tags of rows off screen.
  QHeaderView* header = tree->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  const int chars = QFontMetrics(tree->font()).averageCharWidth();
  for (int column = 0; column < kColumnCount; ++column)
    header->resizeSection(column, column_chars(column) * chars);
  tree->setHeaderHidden(false);
}

QTreeView* tree_of(const QWidget* dialog) {
  return qobject_cast<QTreeView*>(dialog_template::find(dialog, kTree));
}

DuplicatesModel* model_of(const QWidget* dialog) {
  QTreeView* tree = tree_of(dialog);
  return tree != nullptr ? qobject_cast<DuplicatesModel*>(tree->model()) : nullptr;
}

void UpdateTreeView(QWidget* dialog) {
  QTreeView* tree = tree_of(dialog);
  DuplicatesModel* model = model_of(dialog);
  if (model == nullptr) return;

  duplicate_listing listing = list_duplicates();
  if (!listing.grouped.groups.empty()) {
    UpdateStatus2(listing.progress_middle.c_str(), dialog);
    UpdateStatus3(listing.progress_upper.c_str(), dialog);
  }
  const std::string middle = summary_middle_text(listing.duplicates, listing.duplicate_mb);
  const std::string upper = summary_upper_text(file_getfilenum(), listing.total_mb);

  model->reset(std::move(listing));
  if (model->kind() == listing_kind::duplicates) tree->expandAll();

  UpdateStatus2(middle.c_str(), dialog);
  UpdateStatus3(upper.c_str(), dialog);
  const char* name = file_getdbname();
  const std::string caption = std::string("Database: ") + (name != nullptr ? name : "None");
  SetFrameCaption(caption.c_str(), dialog);
}

void ShowListing(QWidget* dialog, listing_kind kind, std::vector<uint32_t> found) {
  DuplicatesModel* model = model_of(dialog);
  if (model == nullptr) return;
  switch (kind) {
    case listing_kind::duplicates:
      model->show_duplicates();
      tree_of(dialog)->expandAll();
      break;
    case listing_kind::all_files:
      model->show_all_files();
      break;
    case listing_kind::found_files:
      model->show_found_files(std::move(found));
      break;
  }
}
