// The context menu is built afresh for the item it opens on: which folders it offers depends
// on the copy clicked, which rule is checked on the settings.
#include "ui/tree_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QTreeView>
#include <QUrl>

#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/prompts.h"
#include "ui/tick_commands.h"
#include "ui/window_settings.h"

namespace {

// The path of the copy an item names, or "" for a group item or none.
QString path_at(DialogSession& s, const QModelIndex& at) {
  DuplicatesModel* model = model_of(s.view);
  const int32_t file = model != nullptr ? model->tag(at) : -1;
  const fileentry* f = file >= 0 ? db_getfileentry(static_cast<uint32_t>(file)) : nullptr;
  return f != nullptr ? QFile::decodeName(f->filename) : QString();
}

// The duplicate group of an item (a group item or one of its copies), or -1.
int group_at(DialogSession& s, const QModelIndex& at) {
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr || !at.isValid() || model->kind() != listing_kind::duplicates) return -1;
  const QModelIndex first = at.siblingAtColumn(0);
  return first.parent().isValid() ? model->group_of(first) : first.row();
}

// The folders holding path, from its own up to the top (the root itself left out).
QStringList folders_of(const QString& path) {
  QStringList folders;
  for (QString dir = QFileInfo(path).path(); dir.size() > 1 && dir.startsWith(QLatin1Char('/'));
       dir = QFileInfo(dir).path())
    folders << dir;
  return folders;
}

// Runs what under the busy flag, as every command does.
template <typename Action>
void busy(DialogSession& s, Action what) {
  guarded(s, [&](DialogSession&) { what(); });
}

struct rule_entry {
  cleanup::keep_rule_kind kind;
  const char* text;
};
constexpr rule_entry kRules[] = {
    {cleanup::keep_rule_kind::first, "First Copy"},
    {cleanup::keep_rule_kind::shortest_path, "Shortest Path"},
    {cleanup::keep_rule_kind::longest_path, "Longest Path"},
    {cleanup::keep_rule_kind::newest, "Newest"},
    {cleanup::keep_rule_kind::oldest, "Oldest"},
    {cleanup::keep_rule_kind::best_tags, "Best Tags"},
};

void add_rule_menu(DialogSession& s, QMenu* menu) {
  QMenu* rules = menu->addMenu(QStringLiteral("Tick All but the Keeper by"));
  auto* exclusive = new QActionGroup(rules);
  const window_settings::keep_choice current = window_settings::keep_rule();
  for (const rule_entry& r : kRules) {
    QAction* a = rules->addAction(QString::fromLatin1(r.text));
    a->setObjectName(QStringLiteral("tick_rule_%1").arg(cleanup::keep_rule_name(r.kind)));
    a->setCheckable(true);
    a->setChecked(current.kind == r.kind);
    exclusive->addAction(a);
    const cleanup::keep_rule_kind kind = r.kind;
    QObject::connect(a, &QAction::triggered, [&s, kind] {
      busy(s, [&] { commands::tick_all_but_keepers(s, {kind, QString()}); });
    });
  }
  QAction* keep_in = rules->addAction(QStringLiteral("Keep in Folder..."));
  keep_in->setObjectName(QStringLiteral("tick_rule_keep-in"));
  keep_in->setCheckable(true);
  keep_in->setChecked(current.kind == cleanup::keep_rule_kind::keep_in);
  exclusive->addAction(keep_in);
  QObject::connect(keep_in, &QAction::triggered, [&s] {
    busy(s, [&] {
      const QString folder = prompts::folder(s.view, QStringLiteral("Keep the copies in a folder"));
      if (folder.isEmpty()) return;
      const commands::ticked_by_rule ticked =
          commands::tick_all_but_keepers(s, {cleanup::keep_rule_kind::keep_in, folder});
      if (!ticked.problem.isEmpty())
        prompts::message(s.view, ticked.problem, QStringLiteral("Varnelo Error"));
    });
  });
}

// A submenu with one action per folder, each running act on its folder.
template <typename Act>
void add_folder_menu(QMenu* menu, const QString& title, const QString& name,
                     const QStringList& folders, Act act) {
  QMenu* sub = menu->addMenu(title);
  sub->setEnabled(!folders.isEmpty());
  for (int i = 0; i < folders.size(); ++i) {
    QAction* a = sub->addAction(folders[i]);
    a->setObjectName(QStringLiteral("%1_%2").arg(name).arg(i));
    const QString folder = folders[i];
    QObject::connect(a, &QAction::triggered, [act, folder] { act(folder); });
  }
}

void play(DialogSession& s, const QModelIndex& at) {
  const QString path = path_at(s, at);
  if (!path.isEmpty()) prompts::open_url(QUrl::fromLocalFile(path));
}

void show_in_folder(DialogSession& s, const QModelIndex& at) {
  const QString path = path_at(s, at);
  if (!path.isEmpty()) prompts::open_url(QUrl::fromLocalFile(QFileInfo(path).path()));
}

void copy_path(DialogSession& s, const QModelIndex& at) {
  const QString path = path_at(s, at);
  if (!path.isEmpty()) QApplication::clipboard()->setText(path);
}

void invert(DialogSession& s, const QModelIndex& at) {
  const int g = group_at(s, at);
  if (g >= 0) busy(s, [&] { commands::invert_group(s, g); });
}

QAction* add_action(QMenu* menu, const QString& text, const char* name, QKeySequence keys = {}) {
  QAction* a = menu->addAction(text);
  a->setObjectName(QString::fromLatin1(name));
  a->setShortcut(keys);
  return a;
}

}  // namespace

std::unique_ptr<QMenu> tree_menu(DialogSession& s, const QModelIndex& at) {
  auto menu = std::make_unique<QMenu>(s.view);
  const QString path = path_at(s, at);
  const QStringList folders = folders_of(path);

  QObject::connect(add_action(menu.get(), QStringLiteral("Tick All but the Keeper"),
                              "tick_keepers", QKeySequence(Qt::CTRL | Qt::Key_K)),
                   &QAction::triggered,
                   [&s] { busy(s, [&] { commands::tick_all_but_keepers(s); }); });
  add_rule_menu(s, menu.get());
  add_folder_menu(menu.get(), QStringLiteral("Tick Every Copy Under"),
                  QStringLiteral("tick_folder"), folders, [&s](const QString& folder) {
                    busy(s, [&] { commands::tick_folder(s, folder); });
                  });
  QObject::connect(add_action(menu.get(), QStringLiteral("Untick All"), "untick_all",
                              QKeySequence(Qt::CTRL | Qt::Key_U)),
                   &QAction::triggered, [&s] { busy(s, [&] { commands::untick_all(s); }); });
  QAction* invert_action = add_action(menu.get(), QStringLiteral("Invert Ticks in This Group"),
                                      "invert_group", QKeySequence(Qt::CTRL | Qt::Key_I));
  invert_action->setEnabled(group_at(s, at) >= 0);
  QObject::connect(invert_action, &QAction::triggered, [&s, at] { invert(s, at); });

  menu->addSeparator();
  add_folder_menu(menu.get(), QStringLiteral("Protect Folder"), QStringLiteral("protect"),
                  folders, [&s](const QString& folder) {
                    busy(s, [&] { commands::protect_folder(s, folder); });
                  });
  add_folder_menu(menu.get(), QStringLiteral("Unprotect Folder"), QStringLiteral("unprotect"),
                  window_settings::protected_folders(), [&s](const QString& folder) {
                    busy(s, [&] { commands::unprotect_folder(s, folder); });
                  });

  menu->addSeparator();
  for (auto [text, name, keys, act] :
       {std::tuple{"Play", "play", QKeySequence(Qt::CTRL | Qt::Key_P), &play},
        std::tuple{"Show in Folder", "show_in_folder", QKeySequence(Qt::CTRL | Qt::Key_L),
                   &show_in_folder},
        std::tuple{"Copy Path", "copy_path", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &copy_path}}) {
    QAction* a = add_action(menu.get(), QString::fromLatin1(text), name, keys);
    a->setEnabled(!path.isEmpty());
    QObject::connect(a, &QAction::triggered, [&s, at, act = act] { act(s, at); });
  }

  menu->addSeparator();
  QAction* permanent = add_action(menu.get(), QStringLiteral("Delete Permanently (Skip the Trash)"),
                                  "permanent_deletion");
  permanent->setCheckable(true);
  permanent->setChecked(window_settings::permanent_deletion());
  QObject::connect(permanent, &QAction::toggled,
                   [](bool on) { window_settings::set_permanent_deletion(on); });
  return menu;
}

void install_tree_menu(DialogSession& s) {
  QTreeView* tree = tree_of(s.view);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  auto open_at = [&s, tree](const QModelIndex& at, const QPoint& where) {
    std::unique_ptr<QMenu> menu = tree_menu(s, at);
    menu->exec(where);
  };
  QObject::connect(tree, &QWidget::customContextMenuRequested, tree,
                   [tree, open_at](const QPoint& pos) {
                     QModelIndex at = tree->indexAt(pos);
                     if (!at.isValid()) at = tree->currentIndex();
                     open_at(at, tree->viewport()->mapToGlobal(pos));
                   });

  // The shortcuts work on the current item without opening the menu.
  auto shortcut = [tree](QKeySequence keys, auto act) {
    auto* a = new QAction(tree);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(a, &QAction::triggered, tree, act);
    tree->addAction(a);
  };
  // From the keyboard the menu opens on the current item, not on whatever lies under the
  // middle of the view.
  for (const QKeySequence& keys : {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
    shortcut(keys, [tree, open_at] {
      // Just below the start of the current row, leaving the row and its tags in sight.
      const QModelIndex at = tree->currentIndex();
      const QRect r = tree->visualRect(at.siblingAtColumn(0));
      open_at(at, tree->viewport()->mapToGlobal(
                      r.isValid() ? QPoint(r.left() + 2 * r.height(), r.bottom()) : QPoint(0, 0)));
    });
  }
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_K),
           [&s] { busy(s, [&] { commands::tick_all_but_keepers(s); }); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_U), [&s] { busy(s, [&] { commands::untick_all(s); }); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_I), [&s, tree] { invert(s, tree->currentIndex()); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_P), [&s, tree] { play(s, tree->currentIndex()); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_L),
           [&s, tree] { show_in_folder(s, tree->currentIndex()); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), [&s, tree] { copy_path(s, tree->currentIndex()); });
}
