// The tree's context menu and keyboard shortcuts: the tick helpers, protected folders,
// playing a copy, showing it in its folder, copying its path, and the trash or not.
#ifndef VARNELO_UI_TREE_MENU_H_
#define VARNELO_UI_TREE_MENU_H_

#include <QModelIndex>

#include <memory>

class DialogSession;
class QMenu;

// Gives the tree its context menu (right click, the Menu key, Shift+F10) and its shortcuts:
// Ctrl+K ticks all but the keeper by the current rule, Ctrl+U unticks all, Ctrl+I inverts
// the ticks of the current group, Ctrl+P plays the current copy, Ctrl+L shows it in its
// folder, Ctrl+Shift+C copies its path (Ctrl+C is the
// view's own copy of the item's text).
void install_tree_menu(DialogSession& s);

// The context menu for the item at (an invalid index: no item). Its actions carry object
// names ("tick_rule_shortest-path", "tick_folder_0", "protect_0", ...) for tests.
std::unique_ptr<QMenu> tree_menu(DialogSession& s, const QModelIndex& at);

#endif  // VARNELO_UI_TREE_MENU_H_
