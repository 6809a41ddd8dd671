// The item model of the duplicates view: group items at the root, file items beneath,
// every item with a check box. It holds the grouped file indexes, not one object per item.
#ifndef VARNELO_UI_DUPLICATES_MODEL_H_
#define VARNELO_UI_DUPLICATES_MODEL_H_

#include <QAbstractItemModel>

#include <vector>

#include "ui/duplicates_listing.h"

class DuplicatesModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit DuplicatesModel(QObject* parent = nullptr);

  // Shows a new listing; every tick is cleared.
  void reset(duplicate_listing listing);
  const duplicate_listing& listing() const { return listing_; }

  // The tag of a file item: its file index at the time of listing; -1 for a group item.
  int32_t tag(const QModelIndex& index) const;
  // The group a file item belongs to, or null for a group item or an invalid index.
  const duplicate_group* group_of(const QModelIndex& index) const;
  bool is_ticked(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  // A file item's internal id is its group's row + 1; a group item's is 0.
  static bool is_file(const QModelIndex& index) { return index.internalId() != 0; }
  uint32_t file_position(const QModelIndex& index) const;

  duplicate_listing listing_;
  std::vector<bool> group_ticked_, file_ticked_;
};

#endif  // VARNELO_UI_DUPLICATES_MODEL_H_
