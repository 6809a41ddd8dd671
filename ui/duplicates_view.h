// The duplicates view (control 1000): the tree that lists the groups of files sharing a
// content digest (or every file, or the files a search found), with their tags.
#ifndef VARNELO_UI_DUPLICATES_VIEW_H_
#define VARNELO_UI_DUPLICATES_VIEW_H_

#include <stdint.h>

#include <vector>

enum class listing_kind;

class DuplicatesModel;
class QTreeView;
class QWidget;

// Gives the tree of the dialog its model and the look of the view (check boxes, lines,
// uniform rows, the column header). Called once when the dialog is built.
void PrepareTreeView(QTreeView* tree);

// The tree of dialog and its model.
QTreeView* tree_of(const QWidget* dialog);
DuplicatesModel* model_of(const QWidget* dialog);

// Rebuilds the listing from the open database (every tick is lost; the kind of listing shown
// stays) and writes the statistics to the middle and upper lines and "Database: %s" to the
// frame caption.
void UpdateTreeView(QWidget* dialog);

// Switches the tree to a listing: the duplicate groups (expanded), every file, or found (file
// indexes of the open database). Ticks stay.
void ShowListing(QWidget* dialog, listing_kind kind, std::vector<uint32_t> found = {});

#endif  // VARNELO_UI_DUPLICATES_VIEW_H_
