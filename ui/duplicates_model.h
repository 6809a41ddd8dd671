// The item model of the tree (control 1000). It shows one of three listings: the duplicate
// groups (group items at the root, file items beneath), every file of the database, or the
// files a search found (flat). Every item has a check box; the ticks of files are kept by
// file index, so a file ticked in one listing is ticked in the others. Beside the label column
// the tag columns are read on demand for the rows on screen. It holds file indexes, never one
// object per item, so a million rows stay cheap.
#ifndef VARNELO_UI_DUPLICATES_MODEL_H_
#define VARNELO_UI_DUPLICATES_MODEL_H_

#include <QAbstractItemModel>

#include <string>
#include <unordered_map>
#include <vector>

#include "cleanup/protection.h"
#include "ui/duplicates_listing.h"
#include "ui/tag_cache.h"

enum class listing_kind { duplicates, all_files, found_files };

class DuplicatesModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit DuplicatesModel(QObject* parent = nullptr);

  // A new listing of the open database (whose file table may have changed): every tick is
  // cleared and the tags are read afresh. The kind of listing shown stays; found files are
  // followed to their entries by path, and those that are gone drop out.
  void reset(duplicate_listing listing);
  const duplicate_listing& listing() const { return listing_; }

  // Which listing the tree shows. Ticks stay.
  void show_duplicates();
  void show_all_files();
  void show_found_files(std::vector<uint32_t> files);
  listing_kind kind() const { return kind_; }
  // The files the last search found (file indexes), whichever listing is shown.
  const std::vector<uint32_t>& found_files() const { return found_; }

  // The tag of a file item: its file index at the time of listing; -1 for a group item.
  int32_t tag(const QModelIndex& index) const;
  // The group (index into listing().grouped.groups) a file item of the duplicates listing
  // belongs to, or -1.
  int group_of(const QModelIndex& index) const;
  // The item of group g, and of its file at row r.
  QModelIndex group_item(int g) const { return index(g, 0); }
  bool is_ticked(const QModelIndex& index) const;

  // ---- Ticks by file index ----
  bool file_ticked(uint32_t file) const { return file < ticked_.size() && ticked_[file] != 0; }
  // Ticks (or unticks) the file; a protected file is never ticked. False when refused.
  bool set_file_ticked(uint32_t file, bool ticked);
  std::vector<uint32_t> ticked_files() const;
  // The files of the listing shown, in its order (for a folder's copies and the like).
  std::vector<uint32_t> listed_files() const;
  // Tells the view that many ticks changed at once.
  void ticks_changed();

  // ---- Protected folders: their files show greyed and cannot be ticked ----
  void set_protection(cleanup::protected_folders folders);
  // The protected folder holding file, or null.
  const std::string* protecting_folder(uint32_t file) const;
  const cleanup::protected_folders& protection() const { return protection_; }

  tag_cache& tags() const { return tags_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  bool is_file(const QModelIndex& index) const {
    return kind_ != listing_kind::duplicates || index.internalId() != 0;
  }
  // A file item's file index, from its place in the listing shown.
  uint32_t file_at(const QModelIndex& index) const;
  QVariant file_data(const QModelIndex& index, int role) const;
  // Which columns of the copy at row of group g stand out (bit per column).
  uint32_t standing_out_mask(int g, int row) const;
  QString difference_tip(int g, int row, int column) const;
  void follow_found_files();

  duplicate_listing listing_;
  listing_kind kind_ = listing_kind::duplicates;
  uint32_t all_files_ = 0;            // rows of the all-files listing: the file table then
  std::vector<uint32_t> found_;       // the found files by index...
  std::vector<std::string> found_paths_;  // ... and their paths, to follow them
  std::vector<uint8_t> ticked_;       // by file index
  std::vector<bool> group_ticked_;    // group items' boxes, which mean nothing
  mutable std::vector<int8_t> protected_;  // by file index: -1 not yet known, 0 no, 1 yes
  mutable cleanup::protected_folders protection_;
  mutable tag_cache tags_;
  mutable std::unordered_map<int, std::vector<uint32_t>> standing_out_;  // by group
};

#endif  // VARNELO_UI_DUPLICATES_MODEL_H_
