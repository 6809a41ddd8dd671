// Switching the tree's listing, and the title search behind "Search".
#include "ui/listing_commands.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>

#include <string>

#include "database/mp3_db.h"
#include "ui/dialog_session.h"
#include "ui/duplicates_model.h"
#include "ui/duplicates_view.h"
#include "ui/main_dialog.h"
#include "ui/status_lines.h"
#include "ui/title_search.h"

namespace commands {
namespace {

void found_line(DialogSession& s, size_t count, bool done) {
  const std::string text = std::to_string(count) + (done ? " Mp3s found" : " Mp3s found so far");
  UpdateStatus2(text.c_str(), s.view);
}

}  // namespace

void search(DialogSession& s) {
  auto* edit = qobject_cast<QLineEdit*>(s.view->control(kSearchWords));
  const QByteArray words = QFile::encodeName(edit != nullptr ? edit->text() : QString());
  UpdateStatus("Searching Database...(Reading Paths and Titles)", s.view);
  std::vector<uint32_t> found;
  bool stopped = false;
  {
    ++s.searches_running;
    title_search running(words.toStdString());
    while (!running.wait(15)) {
      found_line(s, running.count(), false);
      QCoreApplication::processEvents();
      if (s.working == 0 || s.view->ended()) {
        stopped = true;
        running.stop();
      }
    }
    found = running.matches();
    --s.searches_running;
  }
  const size_t count = found.size();
  ShowListing(s.view, listing_kind::found_files, std::move(found));
  found_line(s, count, true);
  UpdateStatus(stopped ? "Searching Database...(Search Stopped)"
                       : "Searching Database...(Search Completed)",
               s.view);
}

void view_search_results(DialogSession& s) {
  DuplicatesModel* model = model_of(s.view);
  if (model == nullptr) return;
  ShowListing(s.view, listing_kind::found_files, model->found_files());
  found_line(s, model->found_files().size(), true);
  UpdateStatus("Listing Database...(Search Results)", s.view);
}

void view_duplicates(DialogSession& s) {
  ShowListing(s.view, listing_kind::duplicates);
  if (DuplicatesModel* model = model_of(s.view)) {
    const duplicate_listing& l = model->listing();
    UpdateStatus2(summary_middle_text(l.duplicates, l.duplicate_mb).c_str(), s.view);
  }
  UpdateStatus("Listing Database...(Only Duplicates)", s.view);
}

void view_all_files(DialogSession& s) {
  ShowListing(s.view, listing_kind::all_files);
  const std::string text = std::to_string(file_getfilenum()) + " Mp3s in DB";
  UpdateStatus2(text.c_str(), s.view);
  UpdateStatus("Listing Database...(All Mp3s)", s.view);
}

}  // namespace commands
