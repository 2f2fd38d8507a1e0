#pragma once

#include "TaskTableDataSource.h"

#include <QAbstractTableModel>

#include <optional>

// The task table's model: a thin adapter that asks its data source for every row and value and
// hands file drops to it.
class TaskTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // The name of the state image a row shows ("Done", "Doing3", ...; empty for none).
    static constexpr int ImageNameRole = Qt::UserRole + 1;
    // The column identifiers, "Icon" and "Name".
    static constexpr int IdentifierRole = Qt::UserRole + 2;

    explicit TaskTableModel(TaskTableDataSource& dataSource, QObject* parent = nullptr);

    static int sectionOf(TaskColumn column) { return static_cast<int>(column); }
    static std::optional<TaskColumn> columnAt(int section);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // Brings the rows up to the data source's count and redraws every cell. Rows are inserted
    // and removed at the end rather than by a model reset, which would drop the selection.
    void reloadData();

private:
    QVariant iconData(int row, int role) const;
    QVariant nameData(int row, int role) const;
    QString withNote(const QString& text, int row) const;

    TaskTableDataSource& m_DataSource;
    int m_RowsShown = 0;
};
