#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The columns of the task table, in the order shown.
enum class TaskColumn { Icon, Name };
inline constexpr int kTaskColumnCount = 2;

// What the task table asks of the one that keeps the tasks: the rows and their values, and what
// to do with files dropped on it. Rows outside 0 to numberOfRows() - 1 answer empty values.
class TaskTableDataSource {
public:
    virtual int numberOfRows() const = 0;
    // The state icon in the icon column, the start file's path in the name column.
    virtual QVariant tableObjectValue(TaskColumn column, int row) const = 0;
    // The name of the state image a row shows ("Done", "Doing3", ...; empty for none).
    virtual QString stateImageName(int row) const = 0;
    virtual QString stateText(int row) const = 0;
    // What the user should know beyond the state; empty when there is nothing to tell.
    virtual QString noteText(int row) const = 0;
    // Files dropped on the table, empty names for anything that is not a local file: whether
    // the drop is taken.
    virtual bool acceptDrop(const QStringList& fileNames) = 0;

protected:
    ~TaskTableDataSource() = default;
};
