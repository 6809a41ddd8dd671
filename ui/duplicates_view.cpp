// The duplicates view's two operations on the tree of the main dialog.
#include "ui/duplicates_view.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <QTreeView>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "database/mp3_db.h"
#include "ui/dialog_template.h"
#include "ui/duplicates_model.h"
#include "ui/prompts.h"
#include "ui/status_lines.h"

namespace {

QTreeView* tree_of(QWidget* dialog) {
  return qobject_cast<QTreeView*>(dialog_template::find(dialog, 1000));
}

DuplicatesModel* model_of(QTreeView* tree) {
  return tree != nullptr ? qobject_cast<DuplicatesModel*>(tree->model()) : nullptr;
}

using file_identity = std::pair<dev_t, ino_t>;

// The file a path names on disk, following links: a link to the kept copy is that copy.
bool identity_of(const char* path, file_identity* id) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *id = {st.st_dev, st.st_ino};
  return true;
}

struct free_deleter {
  void operator()(void* p) const { free(p); }
};

// True while the file's content still has the digest its group was listed under.
bool still_has_digest(const char* path, const unsigned char digest[16]) {
  std::unique_ptr<unsigned char, free_deleter> now(md5_hashfile_fast(path));
  return now != nullptr && memcmp(now.get(), digest, 16) == 0;
}

// A ticked file, resolved to its path before anything is deleted: removing an entry moves
// the table's last entry into its slot, which makes later tags name other files.
struct chosen_file {
  std::string path;
  const duplicate_group* group;
  std::set<file_identity> const* kept;  // the files of the group's unticked items
};

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
  int deleted = 0;
  if (model != nullptr) {
    const duplicate_listing& listing = model->listing();
    std::vector<std::set<file_identity>> kept(listing.groups.size());
    std::vector<chosen_file> chosen;
    for (int g = 0; g < model->rowCount(); ++g) {
      const QModelIndex group = model->index(g, 0);
      for (int r = 0; r < model->rowCount(group); ++r) {
        const QModelIndex item = model->index(r, 0, group);
        const fileentry* f = db_getfileentry(static_cast<uint32_t>(model->tag(item)));
        // An item whose entry is gone or now has another digest no longer names the
        // file that was listed: it is neither deleted nor counted as a kept copy.
        if (f == nullptr || f->hashid != listing.groups[g].hashid) continue;
        if (model->is_ticked(item)) {
          chosen.push_back({f->filename, &listing.groups[g], &kept[g]});
        } else if (file_identity id; identity_of(f->filename, &id)) {
          kept[g].insert(id);
        }
      }
    }
    for (const chosen_file& c : chosen) {
      file_identity id;
      if (identity_of(c.path.c_str(), &id) && c.kept->count(id) != 0) continue;
      if (!still_has_digest(c.path.c_str(), c.group->digest)) continue;
      if (delete_file(c.path.c_str()) != 0) ++deleted;
    }
  }
  file_updatedb();
  char text[64];
  snprintf(text, sizeof text, "Deleted %d Mp3s", deleted);
  UpdateTreeView(dialog);
  UpdateStatus2(text, dialog);
}
