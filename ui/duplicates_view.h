// The duplicates view (control 1000): listing the groups of files that share a content
// digest, and deleting the files the user ticked.
#ifndef VARNELO_UI_DUPLICATES_VIEW_H_
#define VARNELO_UI_DUPLICATES_VIEW_H_

class QTreeView;
class QWidget;

// Gives the tree of the dialog its model and the look of the view (check boxes, lines,
// uniform rows). Called once when the dialog is built.
void PrepareTreeView(QTreeView* tree);

// Rebuilds the listing from the open database (every tick is lost) and writes the
// statistics to the middle and upper lines and "Database: %s" to the frame caption.
void UpdateTreeView(QWidget* dialog);

// Deletes from disk and from the database the files of the ticked file items, then cleans
// the database, rebuilds the listing and writes "Deleted %d Mp3s" to the middle line.
// A ticked file is spared when it is the very file (same device and inode) of an unticked
// item of its group, or when its content no longer has its group's digest.
void CheckTreeView(QWidget* dialog);

#endif  // VARNELO_UI_DUPLICATES_VIEW_H_
