#pragma once
// The texts the window shows are written in Chinese where they are used, as
// Texts::tr("…"), and looked up in the translation the program loaded at
// start (none: the Chinese text itself). Qt's lupdate finds them by that form;
// a text kept in a table is marked QT_TRANSLATE_NOOP("Velmora", "…") and
// passed through Texts::tr where it is shown.
// The command line tool speaks English of its own and never loads a translation.

#include <QCoreApplication>

class Texts {
    Q_DECLARE_TR_FUNCTIONS(Velmora)
};

// The languages the window speaks: Chinese, its source texts, and English.
enum class Language { Chinese, English };
