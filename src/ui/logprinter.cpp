// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/logprinter.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

namespace LogPrinter
{

bool print(const QString &logFile, const QString &printerName, QString *error, QPrinter *target)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error
            = QStringLiteral("Das Protokoll \"%1\" kann nicht gelesen werden.").arg(QDir::toNativeSeparators(logFile));
        return false;
    }
    QTextDocument doc;
    doc.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    doc.setPlainText(QString::fromUtf8(file.readAll()).remove(u'\r'));

    QPrinter printer(QPrinter::HighResolution);
    QPrinter *out = target;
    if (!out) {
        const QPrinterInfo info
            = printerName.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(printerName);
        if (info.isNull()) {
            *error = printerName.isEmpty()
                ? QStringLiteral("Das Protokoll kann nicht gedruckt werden: Es ist kein Drucker eingerichtet.")
                : QStringLiteral("Das Protokoll kann nicht gedruckt werden: Der Drucker \"%1\" wurde nicht gefunden.")
                      .arg(printerName);
            return false;
        }
        printer.setPrinterName(info.printerName());
        printer.setOutputFormat(QPrinter::NativeFormat);
        printer.setDocName(QStringLiteral("Trevalo-Protokoll"));
        out = &printer;
    }
    doc.print(out);
    return true;
}

} // namespace LogPrinter
