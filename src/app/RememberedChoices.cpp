#include "app/RememberedChoices.h"

#include <QSettings>
#include <QStandardPaths>

#include "app/PortHandlers.h"
#include "app/SettingsFile.h"
#include "core/PortChoice.h"
#include "app/Program.h"
#include "protocol/ModuleLink.h"
#include "serial/SerialLibrary.h"

namespace {

const QString kPortKey = QStringLiteral("port/device");
const QString kBaudKey = QStringLiteral("port/baudRate");
const QString kModuleBaudKey = QStringLiteral("module/baudRate");
const QString kLogTimestampsKey = QStringLiteral("log/timestamps");

// The device behind the port box's item `index` ("COM"+N); empty when unknown.
QString DeviceOfItem(UiServices& ui, SerialLibrary& serial, int index)
{
    const QString text = ui.ComboItemText(Control::Combo_Port, index);
    const int n = ComNumber(text).value_or(0);
    return n > 0 ? serial.PortDevice(n) : QString();
}

void SelectText(UiServices& ui, Control box, const QString& text)
{
    if (text.isEmpty()) return;
    for (int i = 0; i < ui.ComboCount(box); ++i) {
        if (ui.ComboItemText(box, i) == text) {
            ui.SetSelection(box, i);
            return;
        }
    }
}

}  // namespace

QString DefaultSettingsFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/velmora/velmora.conf");
}

Remembered ReadRemembered(const QSettings& settings)
{
    return {settings.value(kPortKey).toString(), settings.value(kBaudKey).toString(),
            settings.value(kModuleBaudKey).toString(), settings.value(kLogTimestampsKey, false).toBool()};
}

void ChooseRemembered(UiServices& ui, SerialLibrary& serial, const Remembered& remembered)
{
    if (!remembered.portDevice.isEmpty()) {
        for (int i = 0; i < ui.ComboCount(Control::Combo_Port); ++i) {
            if (DeviceOfItem(ui, serial, i) == remembered.portDevice) {
                ui.SetSelection(Control::Combo_Port, i);
                break;
            }
        }
    }
    SelectText(ui, Control::Combo_BaudRate, remembered.baudRate);
    SelectText(ui, Control::Combo_SetBaudRate, remembered.moduleBaudRate);
    ui.SetLogTimestamps(remembered.logTimestamps);
}

void RestoreChoices(UiServices& ui, SerialLibrary& serial, QString& settingsFile)
{
    if (settingsFile.isEmpty()) return;
    SettingsFile file(settingsFile, ui);
    if (!file.Usable()) {
        // Said once; nothing is written there at exit either.
        settingsFile.clear();
        return;
    }
    ChooseRemembered(ui, serial, ReadRemembered(file.Settings()));
}

void KeepChoices(const PortParts& p, const QString& settingsFile)
{
    SettingsFile file(settingsFile, p.ui);
    if (!file.Usable()) return;
    QSettings& settings = file.Settings();
    // Refreshing the list clears the choice; the port still open is the one in use.
    QString device = DeviceOfItem(p.ui, p.serial, ChosenPort(p.ui, p.serial));
    if (device.isEmpty() && p.link.IsOpen()) device = p.serial.PortDevice(p.link.PortNumber());
    if (!device.isEmpty()) settings.setValue(kPortKey, device);
    for (const auto& [box, key] : {std::pair{Control::Combo_BaudRate, kBaudKey},
                                   std::pair{Control::Combo_SetBaudRate, kModuleBaudKey}}) {
        const QString rate = p.ui.ComboItemText(box, ChosenItem(p.ui, box));
        if (!rate.isEmpty()) settings.setValue(key, rate);
    }
    settings.setValue(kLogTimestampsKey, p.ui.LogTimestamps());
    file.Keep();
}
