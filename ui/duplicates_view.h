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

// Moves the files of the ticked file items to the desktop's trash and drops their entries,
// then cleans the database, rebuilds the listing and writes "Deleted %d Mp3s" to the middle
// line. Through the cleanup library's safe removal: a ticked file goes only while an
// unticked copy of its group still holds the content, when it still has that content itself
// and is not the very file (same device and inode) of an unticked item; the files it spares,
// and files on a file system without a usable trash, stay and are not counted.
void CheckTreeView(QWidget* dialog);

#endif  // VARNELO_UI_DUPLICATES_VIEW_H_
