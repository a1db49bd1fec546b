#pragma once
// The texts the window shows are written in Chinese where they are used, as
// Texts::tr("…"), and looked up in the translation the program loaded at
// start (none: the Chinese text itself). Qt's lupdate finds them by that form.
// The command line tool speaks English of its own and never calls this.

#include <QCoreApplication>

class Texts {
    Q_DECLARE_TR_FUNCTIONS(Velmora)
};
