#include "TaskTableModel.h"

#include <QMimeData>
#include <QUrl>

namespace {

// The identifier each column is known by ("Icon", "Name"), its header's title and tooltip.
struct ColumnHeader {
    TaskColumn column;
    const char* identifier;
    const char* title;
    const char* toolTip;
};

constexpr ColumnHeader kColumnHeaders[kTaskColumnCount] = {
    {TaskColumn::Icon, "Icon", nullptr, QT_TRANSLATE_NOOP("TaskTableModel", "State of the task")},
    {TaskColumn::Name, "Name", QT_TRANSLATE_NOOP("TaskTableModel", "Start file"), nullptr},
};
static_assert(kColumnHeaders[0].column == TaskColumn::Icon &&
                  kColumnHeaders[1].column == TaskColumn::Name,
              "the headers are listed in the order of the columns");

} // namespace

TaskTableModel::TaskTableModel(TaskTableDataSource& dataSource, QObject* parent)
    : QAbstractTableModel(parent), m_DataSource(dataSource) {}

std::optional<TaskColumn> TaskTableModel::columnAt(int section) {
    if (section < 0 || section >= kTaskColumnCount)
        return std::nullopt;
    return kColumnHeaders[section].column;
}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_RowsShown;
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTaskColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_RowsShown)
        return {};
    const std::optional<TaskColumn> column = columnAt(index.column());
    if (!column)
        return {};
    switch (*column) {
    case TaskColumn::Icon:
        return iconData(index.row(), role);
    case TaskColumn::Name:
        return nameData(index.row(), role);
    }
    return {};
}

QVariant TaskTableModel::iconData(int row, int role) const {
    switch (role) {
    case Qt::DecorationRole:
        return m_DataSource.tableObjectValue(TaskColumn::Icon, row);
    case ImageNameRole:
        return m_DataSource.stateImageName(row);
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return withNote(m_DataSource.stateText(row), row);
    default:
        return {};
    }
}

QVariant TaskTableModel::nameData(int row, int role) const {
    if (role == Qt::DisplayRole)
        return m_DataSource.tableObjectValue(TaskColumn::Name, row);
    if (role == Qt::ToolTipRole)
        return withNote(m_DataSource.tableObjectValue(TaskColumn::Name, row).toString(), row);
    return {};
}

// A row's tooltips carry the task's note too, so that it is seen without selecting the task.
QString TaskTableModel::withNote(const QString& text, int row) const {
    const QString note = m_DataSource.noteText(row);
    return note.isEmpty() ? text : text + QLatin1Char('\n') + note;
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || !columnAt(section))
        return {};
    const ColumnHeader& header = kColumnHeaders[section];
    if (role == IdentifierRole)
        return QString::fromLatin1(header.identifier);
    if (role == Qt::DisplayRole && header.title != nullptr)
        return tr(header.title);
    if (role == Qt::ToolTipRole && header.toolTip != nullptr)
        return tr(header.toolTip);
    return {};
}

Qt::ItemFlags TaskTableModel::flags(const QModelIndex& index) const {
    // Drops are taken anywhere on the table, rows and empty space alike: they always append.
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDropEnabled |
           Qt::ItemNeverHasChildren;
}

QStringList TaskTableModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

Qt::DropActions TaskTableModel::supportedDropActions() const {
    return Qt::CopyAction;
}

bool TaskTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                     const QModelIndex&) const {
    return data != nullptr && action == Qt::CopyAction && data->hasUrls();
}

bool TaskTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                  const QModelIndex&) {
    if (data == nullptr || action != Qt::CopyAction)
        return false;
    QStringList fileNames;
    const QList<QUrl> urls = data->urls();
    for (const QUrl& url : urls)
        fileNames << url.toLocalFile(); // empty for anything that is not a local file
    return m_DataSource.acceptDrop(fileNames);
}

void TaskTableModel::reloadData() {
    const int rows = m_DataSource.numberOfRows();
    if (rows > m_RowsShown) {
        beginInsertRows({}, m_RowsShown, rows - 1);
        m_RowsShown = rows;
        endInsertRows();
    } else if (rows < m_RowsShown) {
        beginRemoveRows({}, rows, m_RowsShown - 1);
        m_RowsShown = rows;
        endRemoveRows();
    }
    if (m_RowsShown > 0)
        emit dataChanged(index(0, 0), index(m_RowsShown - 1, kTaskColumnCount - 1));
}
