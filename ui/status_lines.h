// The three status lines at the bottom of the main dialog and the caption of its frame.
#ifndef VARNELO_UI_STATUS_LINES_H_
#define VARNELO_UI_STATUS_LINES_H_

class QWidget;

// The lower line (control 1009): the step of the command under way.
void UpdateStatus(const char* text, QWidget* dialog);
// The middle line (control 1010): duplicates, files added, files deleted.
void UpdateStatus2(const char* text, QWidget* dialog);
// The upper line (control 1011): totals, scan depth and folder, listing progress.
void UpdateStatus3(const char* text, QWidget* dialog);
// The caption of the group box 1001 that frames the dialog.
void SetFrameCaption(const char* text, QWidget* dialog);

#endif  // VARNELO_UI_STATUS_LINES_H_
