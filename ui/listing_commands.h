// The commands that choose what the tree lists: "Search" with the words of the edit box, and
// "View Search Results", "View only Duplicates" and "View All Mp3s".
#ifndef VARNELO_UI_LISTING_COMMANDS_H_
#define VARNELO_UI_LISTING_COMMANDS_H_

class DialogSession;

namespace commands {

// Runs the library's title search on the words of the edit box (1020) and lists the files
// found. The window stays alive meanwhile (the search runs on a thread), the count so far
// on the middle line; the abort button ends it after the library's current step.
void search(DialogSession& s);
void view_search_results(DialogSession& s);
void view_duplicates(DialogSession& s);
void view_all_files(DialogSession& s);

}  // namespace commands

#endif  // VARNELO_UI_LISTING_COMMANDS_H_
