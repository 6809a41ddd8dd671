// Labels are formed when the view asks for them, from the entry the tag names, so a file
// item shows the very path that deleting it would remove.
#include "ui/duplicates_model.h"

#include <utility>

DuplicatesModel::DuplicatesModel(QObject* parent) : QAbstractItemModel(parent) {}

void DuplicatesModel::reset(duplicate_listing listing) {
  beginResetModel();
  listing_ = std::move(listing);
  group_ticked_.assign(listing_.groups.size(), false);
  file_ticked_.assign(listing_.files.size(), false);
  endResetModel();
}

uint32_t DuplicatesModel::file_position(const QModelIndex& index) const {
  const duplicate_group& g = listing_.groups[index.internalId() - 1];
  return g.first + static_cast<uint32_t>(index.row());
}

int32_t DuplicatesModel::tag(const QModelIndex& index) const {
  if (!index.isValid() || !is_file(index)) return -1;
  return static_cast<int32_t>(listing_.files[file_position(index)]);
}

const duplicate_group* DuplicatesModel::group_of(const QModelIndex& index) const {
  if (!index.isValid() || !is_file(index)) return nullptr;
  return &listing_.groups[index.internalId() - 1];
}

bool DuplicatesModel::is_ticked(const QModelIndex& index) const {
  if (!index.isValid()) return false;
  return is_file(index) ? file_ticked_[file_position(index)] : group_ticked_[index.row()];
}

QModelIndex DuplicatesModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) {
    if (static_cast<size_t>(row) >= listing_.groups.size()) return {};
    return createIndex(row, 0, quintptr{0});
  }
  if (is_file(parent) || static_cast<uint32_t>(row) >= listing_.groups[parent.row()].count)
    return {};
  return createIndex(row, 0, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex DuplicatesModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || !is_file(child)) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
}

int DuplicatesModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(listing_.groups.size());
  if (is_file(parent)) return 0;
  return static_cast<int>(listing_.groups[parent.row()].count);
}

int DuplicatesModel::columnCount(const QModelIndex&) const { return 1; }

bool DuplicatesModel::hasChildren(const QModelIndex& parent) const {
  return !parent.isValid() ? !listing_.groups.empty() : !is_file(parent);
}

QVariant DuplicatesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::CheckStateRole) return is_ticked(index) ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole) return {};
  if (!is_file(index)) {
    const duplicate_group& g = listing_.groups[index.row()];
    return QString::fromLatin1(group_label(static_cast<int32_t>(g.count), g.digest));
  }
  // After a failed reload the tables can be empty while the listing still stands.
  const fileentry* f = db_getfileentry(static_cast<uint32_t>(tag(index)));
  return f != nullptr ? QString::fromLocal8Bit(file_label(*f)) : QString();
}

bool DuplicatesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole) return false;
  const bool ticked = value.toInt() == Qt::Checked;
  if (is_file(index)) {
    file_ticked_[file_position(index)] = ticked;
  } else {
    group_ticked_[index.row()] = ticked;
  }
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags DuplicatesModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
         (is_file(index) ? Qt::ItemNeverHasChildren : Qt::NoItemFlags);
}
