// corvid-dial: click-to-dial from the desktop. Turns its argument (ten digits, a number as typed,
// or a tel:, sip:, sips: or callto: link) into a dial file in the datalink folder of the install
// root, which the dialer's datalink poll takes and dials.
//
//   corvid-dial [--root DIR] NUMBER-OR-LINK
//
// The file is written under a temporary name and renamed into place, so the poll never sees half
// a file. Exit codes: 0 queued, 2 no dialable number in the argument, 3 the file could not be
// written, 64 wrong usage.

#include "dialer/AutomationRules.h"
#include "platform/InstallRoot.h"
#include "settings/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

using namespace corvid;

namespace {

void say(FILE* stream, const QString& text) {
    std::fprintf(stream, "corvid-dial: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--root")) {
            ++i; // its value is read by InstallRoot::resolve
        } else if (!a.startsWith(QLatin1String("--root="))) {
            rest << a;
        }
    }
    if (rest.size() != 1 || rest.first() == QLatin1String("--help")) {
        say(stderr, QStringLiteral("usage: corvid-dial [--root DIR] NUMBER-OR-LINK (tel:, sip:, callto:)"));
        return 64;
    }

    const std::optional<QString> name = automation::dialFileNameForLink(rest.first());
    if (!name) {
        say(stderr, automation::hasTooManyDigits(automation::dialLinkNumberText(rest.first()))
                        ? automation::TooManyDigitsOutcome
                        : QStringLiteral("no ten-digit number in \"%1\"").arg(automation::journalField(rest.first())));
        return 2;
    }

    const InstallRoot root(InstallRoot::resolve(app.arguments()));
    const QString folder = root.datalink();
    if (!QDir().mkpath(folder)) {
        say(stderr, QStringLiteral("cannot make the datalink folder %1").arg(folder));
        return 3;
    }
    // QSaveFile writes "<name>.<random>" beside the target and renames it on commit: the poll's
    // "*.dia" pattern never matches the file before it is whole.
    QSaveFile file(folder + QLatin1Char('/') + *name);
    if (!file.open(QIODevice::WriteOnly) || file.write(rest.first().toUtf8() + "\r\n") < 0 || !file.commit()) {
        say(stderr, QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
        return 3;
    }
    say(stdout, QStringLiteral("queued %1 as %2").arg(name->chopped(automation::DialSuffix.size()), file.fileName()));
    if (ReadIniKey(root.settingsFile(), QStringLiteral("System"), QStringLiteral("UseSipTapi")) !=
        QLatin1String("True"))
        say(stderr, QStringLiteral("note: the dialer takes dial files only while UseSipTapi is True in %1")
                        .arg(root.settingsFile()));
    return 0;
}
