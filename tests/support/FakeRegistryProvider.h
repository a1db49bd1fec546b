#pragma once
// A registry that holds the serial-port key with the values a test gives it,
// honouring the caller's buffer lengths as the real one does.

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>
#include <cstring>

#include "serial/SerialLibrary.h"

class FakeRegistryProvider : public LibraryProvider {
public:
    QVector<QByteArray> values;  // data of each value, in enumeration order
    QHash<int, QString> devices;  // the device path behind each COM number
    bool keyExists = true;
    QStringList calls;
    QVector<quint32> nameLensOnEntry, dataLensOnEntry;
    bool nameBufferBlank = true;  // every name buffer arrived filled with blanks

    bool Offers(const QString& libraryFile, const QString& function) const override
    {
        return libraryFile.startsWith(QLatin1String("advapi32"), Qt::CaseInsensitive) && function.startsWith(QLatin1String("Reg"));
    }
    int RegOpenKeyA(quint32 root, const char* subKey, quint32* key) override
    {
        calls << QStringLiteral("RegOpenKeyA(%1,%2)").arg(root, 0, 16).arg(QLatin1String(subKey));
        if (!keyExists) return 2;
        *key = 77;
        return 0;
    }
    int RegEnumValueA(quint32 key, int index, char* name, quint32* nameLen, quint32, quint32* type,
                      unsigned char* data, quint32* dataLen) override
    {
        calls << QStringLiteral("RegEnumValueA(%1,%2)").arg(key).arg(index);
        nameLensOnEntry << *nameLen;
        dataLensOnEntry << *dataLen;
        for (quint32 i = 0; i < *nameLen; ++i) nameBufferBlank = nameBufferBlank && name[i] == ' ';
        if (index >= values.size()) return 259;
        const QByteArray& v = values.at(index);
        if (quint32(v.size()) + 1 > *dataLen) return 234;
        std::memcpy(name, "\\Device\\Serial0", 16);
        *type = 1;
        std::memcpy(data, v.constData(), size_t(v.size()) + 1);
        *dataLen = quint32(v.size()) + 1;
        return 0;
    }
    int RegCloseKey(quint32 key) override
    {
        calls << QStringLiteral("RegCloseKey(%1)").arg(key);
        return 0;
    }
    QString PortDevice(int comNumber) const override { return devices.value(comNumber); }
};
