// Status lines: each keeps exactly the last text written to it.
#include "ui/status_lines.h"

#include <QGroupBox>
#include <QLabel>

#include "ui/dialog_template.h"

namespace {

void set_line(control_id id, const char* text, QWidget* dialog) {
  // Texts are the library's 8-bit strings: paths in the local encoding.
  if (auto* label = qobject_cast<QLabel*>(dialog_template::find(dialog, id)))
    label->setText(QString::fromLocal8Bit(text));
}

}  // namespace

void UpdateStatus(const char* text, QWidget* dialog) { set_line(kLowerLine, text, dialog); }
void UpdateStatus2(const char* text, QWidget* dialog) { set_line(kMiddleLine, text, dialog); }
void UpdateStatus3(const char* text, QWidget* dialog) { set_line(kUpperLine, text, dialog); }

void SetFrameCaption(const char* text, QWidget* dialog) {
  if (auto* box = qobject_cast<QGroupBox*>(dialog_template::find(dialog, kFrame))) {
    // A group box title takes '&' as a shortcut marker; a path must show as it is.
    box->setTitle(QString::fromLocal8Bit(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
  }
}
