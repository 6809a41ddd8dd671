// What the folder walk under way (or the last one) could not take: folders it could not
// list and files it could not read, counted, with the first few named.
#ifndef VARNELO_DATABASE_WALK_REPORT_H_
#define VARNELO_DATABASE_WALK_REPORT_H_

#include <string>

namespace walk_report {

// An outermost walk begins: what the last one could not take is forgotten.
void begin();
// error: the errno value telling why.
void folder_unlisted(const std::string& path, int error);
void file_unread(const std::string& path, int error);

}  // namespace walk_report

#endif  // VARNELO_DATABASE_WALK_REPORT_H_
