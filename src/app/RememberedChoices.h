#pragma once
// The choices a user makes again at every start: the port, kept by its device
// path so a renumbering of the list does not change it, the two baud rates,
// and whether the log shows the time of its lines. They live in the user's
// settings file, read at start and written on close; without a settings file
// nothing is remembered, and neither is it when something other than a
// regular file stands there (SettingsFile).

#include <QString>

class QSettings;
class SerialLibrary;
class UiServices;
struct PortParts;

// What a settings file remembers of the choices.
struct Remembered {
    QString portDevice;
    QString baudRate;
    QString moduleBaudRate;
    bool logTimestamps = false;
};

// velmora.conf in the user's configuration folder (~/.config/velmora).
QString DefaultSettingsFile();
Remembered ReadRemembered(const QSettings& settings);
// Chooses the remembered port when its device is in the port list and the
// remembered rates when their lists hold them; anything else stays as it is.
void ChooseRemembered(UiServices& ui, SerialLibrary& serial, const Remembered& remembered);
// ChooseRemembered with what `settingsFile` remembers, when there is one; a
// file that cannot be used is said once and forgotten (emptied).
void RestoreChoices(UiServices& ui, SerialLibrary& serial, QString& settingsFile);
// Writes the chosen rates and the chosen port (or else the open one). When
// no port is chosen the remembered one is kept, so a device that was unplugged
// is chosen again once it is back.
void KeepChoices(const PortParts& p, const QString& settingsFile);
