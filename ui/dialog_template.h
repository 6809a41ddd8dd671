// The main dialog's template: its 22 controls with kinds, texts and places in dialog units,
// and how they become widgets placed in pixels.
#ifndef VARNELO_UI_DIALOG_TEMPLATE_H_
#define VARNELO_UI_DIALOG_TEMPLATE_H_

#include <QRect>
#include <QSize>

#include "ui/control_ids.h"

class QDialog;
class QFont;
class QWidget;

namespace dialog_template {

enum class control_kind { tree, group_box, push_button, label, centred_label, edit };

struct control {
  control_id id;
  control_kind kind;
  const char* text;
  int x, y, w, h;  // dialog units
};

// In creation order, which is also the tab order.
extern const control kControls[22];
constexpr int kDialogX = 39, kDialogY = 65, kDialogWidth = 606, kDialogHeight = 300;

// Pixels per four horizontal and eight vertical dialog units of the font.
struct base_units {
  int x;  // average character width
  int y;  // character height
};
base_units units_of(const QFont& font);
QRect to_pixels(const base_units& units, int x, int y, int w, int h);

// The object name a control is found by: "control_<id>".
QString object_name(int id);
// The control with that id inside dialog, or null.
QWidget* find(const QWidget* dialog, int id);

// Creates the controls inside dialog in template order, at their fixed pixel places, and
// sizes the dialog. The group box is put beneath the rest so that it never takes their clicks.
void build(QDialog* dialog);

}  // namespace dialog_template

#endif  // VARNELO_UI_DIALOG_TEMPLATE_H_
