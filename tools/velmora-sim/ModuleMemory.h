#pragma once
// The simulated module's memory: one code per value cell of the table, kept
// in a small text file so it survives the simulator ("row column code" lines),
// with the line rate it was set to ("baud N").

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <utility>

struct MemoryCell {
    int row = 0;     // 1 … 96, 0 when the record has no place
    int column = 0;  // 1 "开", 2 "关"
};

// Where an uploaded record lands: the row the table's layout gives the
// block's slot; slot k is the "开" column and k+32 the "关" column.
MemoryCell SlotCell(int block, int slot);

struct StoredCode {
    int row;
    int column;
    QByteArray code;
};

class ModuleMemory {
public:
    // An absent file is an empty memory; a file that cannot be read or has a
    // bad line gives false and an error text.
    bool Load(const QString& path, QString* error);
    // Writes the whole memory atomically to the file it was loaded from
    // (nothing happens without a file).
    bool Save(QString* error) const;

    void Store(MemoryCell cell, const QByteArray& code);
    void Erase();
    int Count() const { return int(codes_.size()); }

    // The codes in the order the module dumps them: switch control rows,
    // switch feedback rows, then scenes; "开" before "关".
    QList<StoredCode> DumpOrder() const;

    // A handful of codes so a first read shows something.
    void FillDemo();

    QString path;
    // The line rate the module was last set to ("baud N" in the file); 0: never set.
    int rate = 0;

private:
    QMap<std::pair<int, int>, QByteArray> codes_;
};
