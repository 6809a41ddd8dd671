// The main dialog's window: template, window frame and the signals of its controls.
#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QTreeView>

#include "ui/dialog_template.h"
#include "ui/duplicates_view.h"

MainDialog::MainDialog() {
  setWindowTitle(QStringLiteral("Varnelo"));
  // Caption, system menu, minimize and close; no maximize box. The frame can be resized,
  // but nothing lays the controls out again: they keep their places.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont dialog_font = font();
  dialog_font.setPointSize(8);
  setFont(dialog_font);
  dialog_template::build(this);
  PrepareTreeView(qobject_cast<QTreeView*>(control(kTree)));
  // The first tab stop has the focus at the start, so Enter presses no button.
  control(kTree)->setFocus();

  for (const dialog_template::control& c : dialog_template::kControls) {
    if (auto* button = qobject_cast<QAbstractButton*>(control(c.id))) {
      const int id = c.id;
      connect(button, &QAbstractButton::clicked, this, [this, id] { emit command(id); });
    }
  }
}

QWidget* MainDialog::control(control_id id) const { return dialog_template::find(this, id); }

void MainDialog::end(int result) {
  ending_ = true;
  done(result);
}

void MainDialog::pump() {
  if (since_pump_.isValid() && since_pump_.elapsed() < 15) return;
  QCoreApplication::processEvents();
  since_pump_.start();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // Closing is the commands' decision; the window only goes when the dialog is ended.
  if (ending_) {
    event->accept();
    return;
  }
  event->ignore();
  emit closeRequested();
}

void MainDialog::reject() { emit escapePressed(); }
