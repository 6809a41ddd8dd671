// The ids of the main dialog's controls and of the commands it sends: the one place they are
// named. A button's command is its control id.
#ifndef VARNELO_UI_CONTROL_IDS_H_
#define VARNELO_UI_CONTROL_IDS_H_

enum control_id : int {
  kIdCancel = 2,  // Escape: end the dialog at once
  kSearchLabel = 104,
  kViewHeading = 108,
  kTree = 1000,
  kFrame = 1001,
  kCreateDb = 1002,
  kOpenDb = 1003,
  kSaveDb = 1004,
  kCleanDb = 1005,
  kScanDirectory = 1006,
  kAddFile = 1007,
  kLowerLine = 1009,
  kMiddleLine = 1010,
  kUpperLine = 1011,
  kDeleteSelected = 1012,
  kAbort = 1013,
  kSearch = 1014,
  kMoveFiles = 1015,
  kDeleteAllDuplicates = 1016,
  kViewAll = 1017,
  kViewDuplicates = 1018,
  kViewSearchResults = 1019,
  kSearchWords = 1020,
};

#endif  // VARNELO_UI_CONTROL_IDS_H_
