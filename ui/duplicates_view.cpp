// The duplicates view's two operations on the tree of the main dialog.
#include "ui/duplicates_view.h"

#include <stdio.h>
#include <string.h>

#include <QTreeView>

#include <string>
#include <utility>
#include <vector>

#include "cleanup/removal.h"
#include "database/mp3_db.h"
#include "ui/dialog_template.h"
#include "ui/duplicates_model.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"

namespace {

QTreeView* tree_of(QWidget* dialog) {
  return qobject_cast<QTreeView*>(dialog_template::find(dialog, kTree));
}

DuplicatesModel* model_of(QTreeView* tree) {
  return tree != nullptr ? qobject_cast<DuplicatesModel*>(tree->model()) : nullptr;
}

}  // namespace

void PrepareTreeView(QTreeView* tree) {
  tree->setModel(new DuplicatesModel(tree));
  tree->setHeaderHidden(true);
  // Groups stay open: the view has no expand buttons, as every file is meant to be seen.
  tree->setRootIsDecorated(false);
  tree->setItemsExpandable(false);
  tree->setUniformRowHeights(true);  // keeps a million rows cheap to lay out and scroll
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  tree->setDragDropMode(QAbstractItemView::NoDragDrop);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void UpdateTreeView(QWidget* dialog) {
  QTreeView* tree = tree_of(dialog);
  DuplicatesModel* model = model_of(tree);
  if (model == nullptr) return;

  duplicate_listing listing = list_duplicates();
  for (size_t i = 0; i < listing.missing_digests.size(); ++i)
    prompts::message(dialog, QStringLiteral("problem getting a hash"),
                     QStringLiteral("Varnelo Warning"));
  if (!listing.groups.empty()) {
    UpdateStatus2(listing.progress_middle.c_str(), dialog);
    UpdateStatus3(listing.progress_upper.c_str(), dialog);
  }
  const std::string middle = summary_middle_text(listing.duplicates, listing.duplicate_mb);
  const std::string upper = summary_upper_text(file_getfilenum(), listing.total_mb);

  model->reset(std::move(listing));
  tree->expandAll();

  UpdateStatus2(middle.c_str(), dialog);
  UpdateStatus3(upper.c_str(), dialog);
  const char* name = file_getdbname();
  const std::string caption = std::string("Database: ") + (name != nullptr ? name : "None");
  SetFrameCaption(caption.c_str(), dialog);
}

void CheckTreeView(QWidget* dialog) {
  DuplicatesModel* model = model_of(tree_of(dialog));
  uint64_t deleted = 0;
  if (model != nullptr) {
    // Every ticked item is resolved to its path before anything is removed: removing an
    // entry moves the table's last entry into its slot, which makes later tags name other
    // files. The unticked copies of a group stay, and the first of them that still holds
    // the group's content must be there for any ticked copy to go.
    const duplicate_listing& listing = model->listing();
    std::vector<cleanup::removal_group> groups;
    for (int g = 0; g < model->rowCount(); ++g) {
      cleanup::removal_group group;
      memcpy(group.digest.data(), listing.groups[g].digest, group.digest.size());
      const QModelIndex parent = model->index(g, 0);
      for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex item = model->index(r, 0, parent);
        const fileentry* f = db_getfileentry(static_cast<uint32_t>(model->tag(item)));
        // An item whose entry is gone or now has another digest no longer names the
        // file that was listed: it is neither removed nor counted as a copy that stays.
        if (f == nullptr || f->hashid != listing.groups[g].hashid) continue;
        (model->is_ticked(item) ? group.go : group.stay).push_back(f->filename);
      }
      if (!group.go.empty()) groups.push_back(std::move(group));
    }
    const cleanup::removal_summary summary = cleanup::remove_copies(groups, {});
    deleted = summary.trashed + summary.deleted;
  }
  file_updatedb();
  char text[64];
  snprintf(text, sizeof text, "Deleted %d Mp3s", static_cast<int>(deleted));
  UpdateTreeView(dialog);
  UpdateStatus2(text, dialog);
}
