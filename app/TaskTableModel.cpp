#include "TaskTableModel.h"

#include "MorvexController.h"

#include <QMimeData>
#include <QUrl>

TaskTableModel::TaskTableModel(MorvexController& controller, QObject* parent)
    : QAbstractTableModel(parent), m_Controller(controller) {}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_RowsShown;
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TaskTableModel::columnIdentifier(int column) {
    switch (column) {
    case IconColumn:
        return QStringLiteral("Icon");
    case NameColumn:
        return QStringLiteral("Name");
    default:
        return {};
    }
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_RowsShown)
        return {};
    const QString identifier = columnIdentifier(index.column());
    if (identifier == QLatin1String("Icon")) {
        switch (role) {
        case Qt::DecorationRole:
            return m_Controller.tableObjectValue(identifier, index.row());
        case ImageNameRole:
            return m_Controller.stateImageName(index.row());
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return withNote(m_Controller.stateText(index.row()), index.row());
        default:
            return {};
        }
    }
    if (role == Qt::DisplayRole)
        return m_Controller.tableObjectValue(identifier, index.row());
    if (role == Qt::ToolTipRole)
        return withNote(m_Controller.tableObjectValue(identifier, index.row()).toString(),
                        index.row());
    return {};
}

// A row's tooltips carry the task's note too, so that it is seen without selecting the task.
QString TaskTableModel::withNote(const QString& text, int row) const {
    const QString note = m_Controller.noteText(row);
    return note.isEmpty() ? text : text + QLatin1Char('\n') + note;
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == IdentifierRole)
        return columnIdentifier(section);
    if (role == Qt::DisplayRole && section == NameColumn)
        return tr("Start file");
    if (role == Qt::ToolTipRole && section == IconColumn)
        return tr("State of the task");
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
    return m_Controller.acceptDrop(fileNames);
}

void TaskTableModel::reloadData() {
    const int rows = m_Controller.numberOfRows();
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
        emit dataChanged(index(0, 0), index(m_RowsShown - 1, ColumnCount - 1));
}
