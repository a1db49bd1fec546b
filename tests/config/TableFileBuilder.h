#pragma once
// A deliberately separate, simple writer of table files for the tests, so the
// reader and writer under test are checked against bytes built another way.

#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <QVector>
#include <QtEndian>
#include <algorithm>

struct BuiltCell {
    BuiltCell(int r, int c, QByteArray t, quint32 ch = 0, QByteArray p = {})
        : row(r), column(c), text(std::move(t)), check(ch), picture(std::move(p)) {}
    int row, column;
    QByteArray text;  // without the zero byte
    quint32 check = 0;
    QByteArray picture;
};

struct BuiltAttribute {
    int row, column;
    quint32 value;
};

struct BuiltFile {
    int version = 6;
    quint16 header1 = 0, header2 = 0;
    int rows = 97, columns = 3, fixedRows = 1, fixedColumns = 1;
    int defaultRowHeight = 24, defaultColumnWidth = 200;
    quint32 grid = 0xC0C0C0, background = 0xFFFFFF, text = 0;
    quint32 words1to8[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    quint32 alternating = 0, byRows = 1, odd = 0xFFFFFF, even = 0xFFFFFF;
    QByteArray settingText1, settingText2;  // padded to 256 / 32
    quint32 words9to11[3] = {0, 0, 0};
    quint32 words12to18[7] = {60, 60, 40, 40, 20, 20, 20};
    QVector<int> heights;  // empty: defaultRowHeight for every row
    QVector<int> widths;   // empty: 80, 315, 315
    QVector<QByteArray> columnKinds;
    QVector<QVector<int>> merges;
    QVector<BuiltCell> cells;
    QVector<QPair<int, int>> fontCells;  // each gets a 60-byte font below
    QVector<BuiltAttribute> lists[7];    // background, text colour, format, A, B, flag, state
    QVector<QByteArray> rangeA, rangeB;
    // Counts written instead of the real ones (for hostile files); -1 = real.
    qint64 rowsOverride = -1;

    static QByteArray Word(quint32 v)
    {
        char b[4];
        qToLittleEndian<quint32>(v, b);
        return QByteArray(b, 4);
    }
    static QByteArray Padded(const QByteArray& b, int n) { return b.left(n) + QByteArray(n - qMin(n, int(b.size())), '\0'); }
    static QByteArray Gb(const QString& s) { return QStringEncoder("GB18030").encode(s); }
    static QByteArray Font(int row, int column)
    {
        QByteArray f = Word(quint32(-16)) + Word(0) + Word(0) + Word(0) + Word(700);
        f += QByteArray("\x01\x00\x00\x86\x00\x00\x00\x00", 8);
        return f + Padded("SimSun" + QByteArray::number(row * 10 + column), 32);
    }
    static QByteArray ColumnKind(quint32 kind, const QByteArray& a, const QByteArray& b, QVector<QByteArray> texts)
    {
        QByteArray r = Word(7) + Word(kind) + Padded(a, 8) + Padded(b, 12) + Word(3) + Word(4) + Word(quint32(texts.size()));
        for (const QByteArray& t : texts) r += Padded(t, 100);
        return r;
    }

    // Fixed cells' titles like the laid-out table, the 99 fixed cells marked 0x10, headers centred.
    void LayOut()
    {
        cells.append({0, 1, Gb(QStringLiteral("开"))});
        cells.append({0, 2, Gb(QStringLiteral("关"))});
        for (int k = 1; k <= 32; ++k) {
            cells.append({2 * k - 1, 0, Gb(QStringLiteral("开关%1控制").arg(k, 2, 10, QLatin1Char('0')))});
            cells.append({2 * k, 0, Gb(QStringLiteral("开关%1反馈").arg(k, 2, 10, QLatin1Char('0')))});
        }
        for (int s = 0; s < 32; ++s) cells.append({65 + s, 0, Gb(QStringLiteral("场景%1").arg(s))});
        lists[2] = {{0, 1, 0x825}, {0, 2, 0x825}};
        for (int c = 0; c < 3; ++c) lists[6].append({0, c, 0x10});
        for (int r = 1; r < 97; ++r) lists[6].append({r, 0, 0x10});
    }

    QByteArray Block() const
    {
        QByteArray b;
        b += Word(quint32(rowsOverride >= 0 ? rowsOverride : rows)) + Word(columns) + Word(fixedRows) + Word(fixedColumns);
        b += Word(defaultRowHeight) + Word(defaultColumnWidth) + Word(grid) + Word(background) + Word(text);
        for (quint32 w : words1to8) b += Word(w);
        b += Word(alternating) + Word(byRows) + Word(odd) + Word(even);
        b += Word(columnKinds.size()) + Word(merges.size()) + Word(cells.size()) + Word(fontCells.size());
        for (const auto& l : lists) b += Word(l.size());
        b += Word(rangeA.size()) + Word(rangeB.size());
        b += Padded(settingText1, 256) + Padded(settingText2, 32);
        for (quint32 w : words9to11) b += Word(w);
        for (quint32 w : words12to18) b += Word(w);
        const int sizes[] = {0, 124, 128, 132, 136, 464, 464};
        return b.left(version >= 1 && version <= 6 ? sizes[version] : 464);
    }

    // Records in the order the format keeps them: row, then column.
    QByteArray Bytes() const
    {
        BuiltFile f = *this;
        const auto byCell = [](const auto& a, const auto& b) { return qMakePair(a.row, a.column) < qMakePair(b.row, b.column); };
        std::stable_sort(f.cells.begin(), f.cells.end(), byCell);
        for (auto& l : f.lists) std::stable_sort(l.begin(), l.end(), byCell);
        return f.Unsorted();
    }

    QByteArray Unsorted() const
    {
        QByteArray out = QByteArray("KTBF") + Word(version);
        char hw[4];
        qToLittleEndian<quint16>(header1, hw);
        qToLittleEndian<quint16>(header2, hw + 2);
        out += QByteArray(hw, 4);
        out += Block();
        for (int r = 0; r < rows; ++r) out += Word(heights.isEmpty() ? defaultRowHeight : heights.at(r));
        const QVector<int> w = widths.isEmpty() ? QVector<int>{80, 315, 315} : widths;
        for (int c = 0; c < columns; ++c) out += Word(w.at(c));
        for (const QByteArray& k : columnKinds) out += k;
        for (const auto& m : merges)
            for (int v : m) out += Word(v);
        for (const BuiltCell& c : cells) {
            out += Word(c.row) + Word(c.column);
            if (version >= 6)
                out += Word(c.text.size() + 1) + c.text + '\0';
            else
                out += Padded(c.text, 256);
            out += Word(c.check) + Word(c.picture.size()) + c.picture;
        }
        for (const auto& f : fontCells) out += Word(f.first) + Word(f.second) + Font(f.first, f.second);
        for (int i = 0; i < 7; ++i) {
            if (i == 6 && version < 2) break;
            for (const BuiltAttribute& a : lists[i]) out += Word(a.row) + Word(a.column) + Word(a.value);
        }
        if (version >= 3)
            for (const QByteArray& r : rangeA) out += r;
        if (version >= 4)
            for (const QByteArray& r : rangeB) out += r;
        return out;
    }
};
