// The window's settings in QSettings.
#include "ui/window_settings.h"

#include <QFile>
#include <QSettings>

namespace window_settings {
namespace {

QSettings store() { return QSettings(QStringLiteral("varnelo"), QStringLiteral("window")); }

}  // namespace

QStringList protected_folders() {
  return store().value(QStringLiteral("protected_folders")).toStringList();
}

void set_protected_folders(const QStringList& folders) {
  store().setValue(QStringLiteral("protected_folders"), folders);
}

bool permanent_deletion() { return store().value(QStringLiteral("permanent_deletion")).toBool(); }

void set_permanent_deletion(bool permanent) {
  store().setValue(QStringLiteral("permanent_deletion"), permanent);
}

keep_choice keep_rule() {
  QSettings s = store();
  keep_choice choice;
  const QString name = s.value(QStringLiteral("keep_rule"), QStringLiteral("first")).toString();
  if (name == QLatin1String("keep-in")) {
    choice.kind = cleanup::keep_rule_kind::keep_in;
    choice.folder = s.value(QStringLiteral("keep_in_folder")).toString();
    if (!choice.folder.isEmpty()) return choice;
  } else if (auto kind = cleanup::ordering_rule_named(name.toStdString())) {
    choice.kind = *kind;
    return choice;
  }
  return keep_choice{};
}

void set_keep_rule(const keep_choice& choice) {
  QSettings s = store();
  s.setValue(QStringLiteral("keep_rule"), QString::fromLatin1(cleanup::keep_rule_name(choice.kind)));
  s.setValue(QStringLiteral("keep_in_folder"), choice.folder);
}

std::vector<cleanup::keep_rule> rules_of(const keep_choice& choice) {
  std::vector<cleanup::keep_rule> rules;
  for (const QString& folder : protected_folders())
    rules.push_back({cleanup::keep_rule_kind::protect, QFile::encodeName(folder).toStdString()});
  rules.push_back({choice.kind, choice.kind == cleanup::keep_rule_kind::keep_in
                                    ? QFile::encodeName(choice.folder).toStdString()
                                    : std::string()});
  return rules;
}

}  // namespace window_settings
