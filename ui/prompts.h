// The window's message boxes and file and folder choosers, behind one seam that tests
// answer in advance instead of showing anything.
#ifndef VARNELO_UI_PROMPTS_H_
#define VARNELO_UI_PROMPTS_H_

#include <QString>
#include <QStringList>

#include <initializer_list>

class QUrl;
class QWidget;

namespace prompts {

// A modal box with an OK button only, owned by parent.
void message(QWidget* parent, const QString& text, const QString& caption);

// The answers a question can offer, each a button of its box.
enum class answer {
  yes,
  no,
  save,
  discard,
  cancel,
  keep_one_copy,      // "Keep One Copy of Each"
  remove_every_copy,  // "Remove Every Copy"
};

// A modal question owned by parent with a button for each answer (in that order), the
// default_answer's button the default. Closing the box gives cancel where it is offered,
// else default_answer.
answer ask(QWidget* parent, const QString& text, const QString& caption,
           std::initializer_list<answer> answers, answer default_answer);

// The three database and file choosers; each gives the chosen path, or an empty text when
// the user cancelled. filter is in Qt's form ("Name (*.ext);;All Files (*)"); the first
// pair is selected at first. None of them changes the process's current directory.
// save_file asks before overwriting an existing file; open_file takes existing files only.
QString save_file(QWidget* parent, const QString& title, const QString& folder,
                  const QString& filter);
QString open_file(QWidget* parent, const QString& title, const QString& folder,
                  const QString& filter);
// A folder chooser that offers folders only; empty when cancelled.
QString folder(QWidget* parent, const QString& title);

// Opens url with the desktop's default program for it (a player, the file manager).
void open_url(const QUrl& url);

// ---- The seam for tests ----

// What a chooser answered in advance was asked to show.
struct chooser_request {
  QString kind;  // "save", "open" or "folder"
  QString title, folder, filter;
};

// Answers the next chooser (any kind) with name; an empty name answers "cancelled".
// Answers queue up and are used in order; with none queued the real chooser is shown.
void set_next_file_name(const QString& name);
// Answers the next question with a; answers queue up and are used in order. While tests
// answer (set_answering), a question without a queued answer takes its default answer.
void set_next_answer(answer a);
// Forgets every queued answer and record, and shows boxes again.
void reset_seam();
// From now on (true) nothing is shown: boxes are recorded as "caption: text" and a chooser
// without a queued answer is cancelled; false shows them again.
void set_answering(bool answering);
// The boxes recorded since the last call, oldest first.
QStringList take_boxes();
// The questions asked since the last call ("caption: text"), oldest first.
QStringList take_questions();
// The chooser requests recorded since the last call, oldest first.
QList<chooser_request> take_requests();
// The addresses open_url was given since the last call while tests answer, oldest first.
QStringList take_opened();

}  // namespace prompts

#endif  // VARNELO_UI_PROMPTS_H_
