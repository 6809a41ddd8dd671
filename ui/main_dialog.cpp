// The main dialog's window: template, window frame and the routing of events to DialogFunc.
#include "ui/main_dialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QTreeView>

#include "database/mp3_db.h"
#include "ui/dialog_func.h"
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
  auto* tree = qobject_cast<QTreeView*>(dialog_template::find(this, 1000));
  PrepareTreeView(tree);
  // The first tab stop has the focus at the start, so Enter presses no button.
  tree->setFocus();

  for (const dialog_template::control& c : dialog_template::kControls) {
    if (auto* button = qobject_cast<QAbstractButton*>(dialog_template::find(this, c.id))) {
      const int id = c.id;
      connect(button, &QAbstractButton::clicked, this,
              [this, id] { DialogFunc(this, kCommand, id); });
    }
  }
  // During a folder walk the library hands the dialog's pending events to the dialog.
  // A walk started without a window (hwnd null) has nothing to pump.
  mp3db_set_event_pump([](window_handle hwnd) {
    if (hwnd != nullptr) static_cast<MainDialog*>(hwnd)->pump();
  });
  DialogFunc(this, kDialogStart, 0);
}

MainDialog::~MainDialog() {
  mp3db_set_event_pump(nullptr);
  file_unlockdb();
}

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
  // Closing is DialogFunc's decision; the window only goes when the dialog is ended.
  if (ending_) {
    event->accept();
    return;
  }
  event->ignore();
  DialogFunc(this, kClose, 0);
}

void MainDialog::reject() { DialogFunc(this, kCommand, kIdCancel); }
