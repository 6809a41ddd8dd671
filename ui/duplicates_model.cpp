// Labels and tag columns are formed when the view asks for them, from the entry the tag names,
// so a file item shows the very path that deleting it would remove.
#include "ui/duplicates_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QStringList>

#include <utility>

namespace {

// Groups with more copies than this are not compared column by column: every copy would
// have to be read to draw one row.
constexpr uint32_t kMostCopiesCompared = 100;

const QColor kStandsOut(170, 60, 0);
const QColor kGreyed(128, 128, 128);

}  // namespace

DuplicatesModel::DuplicatesModel(QObject* parent) : QAbstractItemModel(parent) {}

void DuplicatesModel::reset(duplicate_listing listing) {
  beginResetModel();
  listing_ = std::move(listing);
  const uint32_t filenum = file_getfilenum();
  all_files_ = filenum;
  ticked_.assign(filenum, 0);
  protected_.assign(filenum, -1);
  group_ticked_.assign(listing_.grouped.groups.size(), false);
  tags_.clear();
  standing_out_.clear();
  follow_found_files();
  endResetModel();
}

void DuplicatesModel::follow_found_files() {
  std::vector<uint32_t> files;
  std::vector<std::string> paths;
  for (size_t i = 0; i < found_.size(); ++i) {
    const fileentry* f = db_getfileentry(found_[i]);
    int32_t now = static_cast<int32_t>(found_[i]);
    if (f == nullptr || found_paths_[i] != f->filename)
      now = get_fileentrybyfilename(found_paths_[i].c_str());
    if (now < 0) continue;
    files.push_back(static_cast<uint32_t>(now));
    paths.push_back(std::move(found_paths_[i]));
  }
  found_ = std::move(files);
  found_paths_ = std::move(paths);
}

void DuplicatesModel::show_duplicates() {
  beginResetModel();
  kind_ = listing_kind::duplicates;
  endResetModel();
}

void DuplicatesModel::show_all_files() {
  beginResetModel();
  kind_ = listing_kind::all_files;
  all_files_ = static_cast<uint32_t>(ticked_.size());
  endResetModel();
}

void DuplicatesModel::show_found_files(std::vector<uint32_t> files) {
  beginResetModel();
  kind_ = listing_kind::found_files;
  found_ = std::move(files);
  found_paths_.clear();
  for (uint32_t file : found_) {
    const fileentry* f = db_getfileentry(file);
    found_paths_.emplace_back(f != nullptr ? f->filename : "");
  }
  endResetModel();
}

uint32_t DuplicatesModel::file_at(const QModelIndex& index) const {
  switch (kind_) {
    case listing_kind::duplicates: {
      const cleanup::digest_group& g = listing_.grouped.groups[index.internalId() - 1];
      return listing_.grouped.files[g.first + static_cast<uint32_t>(index.row())];
    }
    case listing_kind::all_files:
      return static_cast<uint32_t>(index.row());
    case listing_kind::found_files:
      return found_[static_cast<size_t>(index.row())];
  }
  return 0;
}

int32_t DuplicatesModel::tag(const QModelIndex& index) const {
  if (!index.isValid() || !is_file(index)) return -1;
  return static_cast<int32_t>(file_at(index));
}

int DuplicatesModel::group_of(const QModelIndex& index) const {
  if (!index.isValid() || kind_ != listing_kind::duplicates || !is_file(index)) return -1;
  return static_cast<int>(index.internalId() - 1);
}

bool DuplicatesModel::is_ticked(const QModelIndex& index) const {
  if (!index.isValid()) return false;
  return is_file(index) ? file_ticked(file_at(index)) : group_ticked_[index.row()];
}

bool DuplicatesModel::set_file_ticked(uint32_t file, bool ticked) {
  if (file >= ticked_.size()) return false;
  if (ticked && protecting_folder(file) != nullptr) return false;
  ticked_[file] = ticked ? 1 : 0;
  return true;
}

std::vector<uint32_t> DuplicatesModel::ticked_files() const {
  std::vector<uint32_t> files;
  for (uint32_t k = 0; k < ticked_.size(); ++k)
    if (ticked_[k] != 0) files.push_back(k);
  return files;
}

std::vector<uint32_t> DuplicatesModel::listed_files() const {
  switch (kind_) {
    case listing_kind::duplicates:
      return listing_.grouped.files;
    case listing_kind::all_files: {
      std::vector<uint32_t> files(all_files_);
      for (uint32_t k = 0; k < all_files_; ++k) files[k] = k;
      return files;
    }
    case listing_kind::found_files:
      return found_;
  }
  return {};
}

void DuplicatesModel::ticks_changed() {
  // One change over the whole root: the view repaints what it shows and reads the boxes anew.
  const int rows = rowCount();
  if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, 0), {Qt::CheckStateRole});
}

void DuplicatesModel::set_protection(cleanup::protected_folders folders) {
  protection_ = std::move(folders);
  protected_.assign(protected_.size(), -1);
  for (uint32_t k = 0; k < ticked_.size(); ++k)
    if (ticked_[k] != 0 && protecting_folder(k) != nullptr) ticked_[k] = 0;
  ticks_changed();
}

const std::string* DuplicatesModel::protecting_folder(uint32_t file) const {
  if (protection_.empty() || file >= protected_.size() || protected_[file] == 0) return nullptr;
  const fileentry* f = db_getfileentry(file);
  const std::string* folder = f != nullptr ? protection_.folder_holding(f->filename) : nullptr;
  protected_[file] = folder != nullptr ? 1 : 0;
  return folder;
}

QModelIndex DuplicatesModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount) return {};
  if (!parent.isValid()) {
    if (row >= rowCount()) return {};
    return createIndex(row, column, quintptr{0});
  }
  if (parent.column() != 0 || is_file(parent) ||
      static_cast<uint32_t>(row) >= listing_.grouped.groups[parent.row()].count)
    return {};
  return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex DuplicatesModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || kind_ != listing_kind::duplicates || child.internalId() == 0) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
}

int DuplicatesModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) {
    if (parent.column() != 0 || is_file(parent)) return 0;
    return static_cast<int>(listing_.grouped.groups[parent.row()].count);
  }
  switch (kind_) {
    case listing_kind::duplicates: return static_cast<int>(listing_.grouped.groups.size());
    case listing_kind::all_files: return static_cast<int>(all_files_);
    case listing_kind::found_files: return static_cast<int>(found_.size());
  }
  return 0;
}

int DuplicatesModel::columnCount(const QModelIndex&) const { return kColumnCount; }

bool DuplicatesModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return rowCount() > 0;
  return parent.column() == 0 && !is_file(parent);
}

QVariant DuplicatesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (is_file(index)) return file_data(index, role);
  if (index.column() != kLabelColumn) return {};
  if (role == Qt::CheckStateRole) return group_ticked_[index.row()] ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole) return {};
  const cleanup::digest_group& g = listing_.grouped.groups[index.row()];
  return QString::fromLatin1(group_label(static_cast<int32_t>(g.count), g.digest));
}

QVariant DuplicatesModel::file_data(const QModelIndex& index, int role) const {
  const uint32_t file = file_at(index);
  // After a failed reload the tables can be empty while the listing still stands.
  const fileentry* f = db_getfileentry(file);
  const int column = index.column();
  const std::string* protector = nullptr;
  if (role == Qt::ForegroundRole || role == Qt::ToolTipRole || role == Qt::CheckStateRole)
    protector = protecting_folder(file);

  if (column == kLabelColumn) {
    switch (role) {
      case Qt::DisplayRole:
        return f != nullptr ? QString::fromLocal8Bit(file_label(*f)) : QString();
      case Qt::CheckStateRole:
        return file_ticked(file) ? Qt::Checked : Qt::Unchecked;
      case Qt::ForegroundRole:
        return protector != nullptr ? QVariant(QBrush(kGreyed)) : QVariant();
      case Qt::ToolTipRole:
        if (protector != nullptr)
          return QStringLiteral("Protected: under %1").arg(QString::fromLocal8Bit(*protector));
        return f != nullptr ? QString::fromLocal8Bit(f->filename) : QString();
      default:
        return {};
    }
  }
  if (f == nullptr) return {};
  const int g = group_of(index);
  const bool stands_out =
      g >= 0 && (role == Qt::FontRole || role == Qt::ForegroundRole || role == Qt::ToolTipRole) &&
      (standing_out_mask(g, index.row()) >> column & 1) != 0;
  switch (role) {
    case Qt::DisplayRole:
      return column_text(tags_.facts(file, f->filename), column);
    case Qt::FontRole:
      if (!stands_out) return {};
      {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
    case Qt::ForegroundRole:
      if (protector != nullptr) return QBrush(kGreyed);
      return stands_out ? QVariant(QBrush(kStandsOut)) : QVariant();
    case Qt::ToolTipRole:
      return stands_out ? QVariant(difference_tip(g, index.row(), column)) : QVariant();
    default:
      return {};
  }
}

uint32_t DuplicatesModel::standing_out_mask(int g, int row) const {
  auto it = standing_out_.find(g);
  if (it == standing_out_.end()) {
    const cleanup::digest_group& group = listing_.grouped.groups[g];
    std::vector<uint32_t> masks(group.count, 0);
    if (group.count <= kMostCopiesCompared) {
      // Copies, not references: reading one file may make the cache start afresh.
      std::vector<file_facts> copies;
      for (uint32_t file : listing_.grouped.files_of(group)) {
        const fileentry* f = db_getfileentry(file);
        copies.push_back(f != nullptr ? tags_.facts(file, f->filename) : file_facts{});
      }
      std::vector<const file_facts*> pointers;
      for (const file_facts& c : copies) pointers.push_back(&c);
      masks = standing_out(pointers);
    }
    it = standing_out_.emplace(g, std::move(masks)).first;
  }
  return static_cast<size_t>(row) < it->second.size() ? it->second[row] : 0;
}

QString DuplicatesModel::difference_tip(int g, int row, int column) const {
  const cleanup::digest_group& group = listing_.grouped.groups[g];
  const auto files = listing_.grouped.files_of(group);
  QString mine;
  QStringList others;
  for (uint32_t r = 0; r < files.size(); ++r) {
    const fileentry* f = db_getfileentry(files[r]);
    const QString text = f != nullptr ? column_text(tags_.facts(files[r], f->filename), column)
                                      : QString();
    if (static_cast<int>(r) == row) {
      mine = text;
    } else {
      others << (text.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("\"%1\"").arg(text));
    }
  }
  others.removeDuplicates();
  return QStringLiteral("%1 differs within this group: %2 here; %3 in other copies")
      .arg(column_title(column),
           mine.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("\"%1\"").arg(mine),
           others.join(QStringLiteral(", ")));
}

bool DuplicatesModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kLabelColumn)
    return false;
  const bool ticked = value.toInt() == Qt::Checked;
  if (is_file(index)) {
    if (!set_file_ticked(file_at(index), ticked)) return false;
  } else {
    group_ticked_[index.row()] = ticked;
  }
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags DuplicatesModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (is_file(index)) flags |= Qt::ItemNeverHasChildren;
  if (index.column() != kLabelColumn) return flags;
  // A protected file's box cannot be ticked.
  if (!is_file(index) || protecting_folder(file_at(index)) == nullptr)
    flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant DuplicatesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return column_title(section);
}
