// Message boxes and choosers through Qt, with the answers a test gave in advance.
#include "ui/prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QUrl>

#include <utility>

namespace prompts {

namespace {

// The seam's answers and records. They live only in this file and are empty unless a test
// fills them, so the running program always shows the real boxes and choosers.
struct seam_state {
  QQueue<QString> next_names;
  QQueue<answer> next_answers;
  QStringList questions;
  QStringList opened;
  bool answering = false;  // a test answers everything: nothing is ever shown
  QStringList boxes;
  QList<chooser_request> requests;
};

seam_state& seam() {
  static seam_state state;
  return state;
}

// True (with *answer set) when a test answered the request in advance, which is recorded.
// A test that gave no answer gets "cancelled" rather than a chooser that nobody closes.
bool answered_in_advance(const chooser_request& request, QString* answer) {
  if (seam().next_names.isEmpty() && !seam().answering) return false;
  seam().requests.append(request);
  *answer = seam().next_names.isEmpty() ? QString() : seam().next_names.dequeue();
  return true;
}

QString first_filter(const QString& filter) { return filter.section(QStringLiteral(";;"), 0, 0); }

// Runs a modal box or chooser, then gives the keyboard back to its owner: without a window
// manager to do it, keys typed next would go nowhere.
template <typename Modal>
auto modal(QWidget* parent, Modal run) {
  auto result = run();
  if (parent != nullptr) parent->activateWindow();
  return result;
}

struct file_question {
  QString title, folder, filter;
};
using file_chooser = QString (*)(QWidget*, const QString&, const QString&, const QString&,
                                 QString*, QFileDialog::Options);

// A file name from the chooser (or a test's answer given in advance), the first filter chosen.
QString file_name(QWidget* parent, const QString& kind, const file_question& q,
                  file_chooser chooser) {
  QString answer;
  if (answered_in_advance({kind, q.title, q.folder, q.filter}, &answer)) return answer;
  QString selected = first_filter(q.filter);
  return modal(parent, [&] { return chooser(parent, q.title, q.folder, q.filter, &selected, {}); });
}

}  // namespace

void message(QWidget* parent, const QString& text, const QString& caption) {
  if (seam().answering) {
    seam().boxes.append(caption + QStringLiteral(": ") + text);
    return;
  }
  modal(parent, [&] { return QMessageBox::information(parent, caption, text, QMessageBox::Ok); });
}

answer ask(QWidget* parent, const QString& text, const QString& caption,
           std::initializer_list<answer> answers, answer default_answer) {
  if (!seam().next_answers.isEmpty() || seam().answering) {
    seam().questions.append(caption + QStringLiteral(": ") + text);
    return seam().next_answers.isEmpty() ? default_answer : seam().next_answers.dequeue();
  }
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  QList<std::pair<QAbstractButton*, answer>> buttons;
  bool offers_cancel = false;
  for (answer a : answers) {
    QAbstractButton* button = nullptr;
    switch (a) {
      case answer::yes: button = box.addButton(QMessageBox::Yes); break;
      case answer::no: button = box.addButton(QMessageBox::No); break;
      case answer::save: button = box.addButton(QMessageBox::Save); break;
      case answer::discard: button = box.addButton(QMessageBox::Discard); break;
      case answer::cancel:
        button = box.addButton(QMessageBox::Cancel);
        offers_cancel = true;
        break;
      case answer::keep_one_copy:
        button = box.addButton(QStringLiteral("Keep One Copy of Each"), QMessageBox::AcceptRole);
        break;
      case answer::remove_every_copy:
        button = box.addButton(QStringLiteral("Remove Every Copy"), QMessageBox::DestructiveRole);
        break;
    }
    buttons.append({button, a});
    if (a == default_answer) box.setDefaultButton(qobject_cast<QPushButton*>(button));
  }
  modal(parent, [&] { return box.exec(); });
  for (const auto& [button, a] : buttons)
    if (box.clickedButton() == button) return a;
  return offers_cancel ? answer::cancel : default_answer;
}

QString save_file(QWidget* parent, const QString& title, const QString& folder,
                  const QString& filter) {
  // QFileDialog asks before overwriting unless told not to, and never changes directory.
  return file_name(parent, QStringLiteral("save"), {title, folder, filter},
                   &QFileDialog::getSaveFileName);
}

QString open_file(QWidget* parent, const QString& title, const QString& folder,
                  const QString& filter) {
  return file_name(parent, QStringLiteral("open"), {title, folder, filter},
                   &QFileDialog::getOpenFileName);
}

QString folder(QWidget* parent, const QString& title) {
  QString answer;
  if (answered_in_advance({QStringLiteral("folder"), title, QString(), QString()}, &answer))
    return answer;
  return modal(parent, [&] {
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
  });
}

void open_url(const QUrl& url) {
  if (seam().answering) {
    seam().opened.append(url.toString());
    return;
  }
  QDesktopServices::openUrl(url);
}

void set_next_file_name(const QString& name) { seam().next_names.enqueue(name); }

void reset_seam() { seam() = seam_state(); }

void set_answering(bool answering) { seam().answering = answering; }

void set_next_answer(answer a) { seam().next_answers.enqueue(a); }

QStringList take_questions() { return std::exchange(seam().questions, {}); }

QStringList take_boxes() { return std::exchange(seam().boxes, {}); }

QStringList take_opened() { return std::exchange(seam().opened, {}); }

QList<chooser_request> take_requests() { return std::exchange(seam().requests, {}); }

}  // namespace prompts
